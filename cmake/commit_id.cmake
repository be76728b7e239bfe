# Writes OUTPUT, a header defining VELT_COMMIT as the commit the sources in
# SOURCE_DIR were built from ("abc1234", "abc1234-dirty" with uncommitted
# changes, "unknown" outside a git checkout). Run at every build; the header
# is rewritten only when the commit changed, so nothing is rebuilt for nothing.
execute_process(
  COMMAND git -C "${SOURCE_DIR}" describe --always --dirty --abbrev=12
  OUTPUT_VARIABLE commit
  OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE status
  ERROR_QUIET)
if(NOT status EQUAL 0 OR commit STREQUAL "")
  set(commit "unknown")
endif()
set(content "#define VELT_COMMIT \"${commit}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
