# Installs the build tree BUILD_DIR into a fresh prefix and checks that it
# lays out exactly the files a user gets, no more and no fewer; then runs the
# installed velt from there. The web player's files are whatever web/ in
# SOURCE_DIR holds now, so that a file added there and missing from the
# install is caught.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DVERSION=... -P install_layout_check.cmake
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
  RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

set(expected
  bin/velt
  bin/velt-encode
  bin/velt-encode-flags
  share/bash-completion/completions/velt
  share/man/man1/velt.1.gz
  share/man/man1/velt-encode.1.gz
  share/man/man1/velt-encode-flags.1.gz)
file(GLOB web_files RELATIVE ${SOURCE_DIR}/web
  ${SOURCE_DIR}/web/*.js ${SOURCE_DIR}/web/*.css ${SOURCE_DIR}/web/*.html ${SOURCE_DIR}/web/*.png)
if(NOT web_files)
  message(FATAL_ERROR "no web player files found in ${SOURCE_DIR}/web")
endif()
foreach(name ${web_files})
  list(APPEND expected share/velt/web/${name})
endforeach()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
list(SORT expected)
list(SORT installed)
if(NOT installed STREQUAL expected)
  set(missing ${expected})
  list(REMOVE_ITEM missing ${installed})
  set(extra ${installed})
  list(REMOVE_ITEM extra ${expected})
  message(FATAL_ERROR "install layout differs\n  missing: ${missing}\n  not expected: ${extra}")
endif()

# the installed program runs from the prefix alone
execute_process(COMMAND ${prefix}/bin/velt --version
  RESULT_VARIABLE status OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0 OR NOT version MATCHES "^velt ${VERSION} \\(commit ")
  message(FATAL_ERROR "installed velt --version: status ${status}, output '${version}'")
endif()
file(REMOVE_RECURSE ${prefix})
