# Installs the build tree BUILD_DIR into a fresh prefix and checks that it
# lays out exactly the files a user gets, no more and no fewer; then runs the
# installed velt from there. The web player's files are whatever web/ in
# SOURCE_DIR holds now, and the Slurm job scripts whatever cluster/slurm
# holds, so that a file added there and missing from the install is caught.
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
# The files of SOURCE_DIR/FROM that the given name patterns match, expected
# in the prefix's TO; their names in the variable NAMES_VAR.
function(expect_source_files from to what names_var)
  list(TRANSFORM ARGN PREPEND ${SOURCE_DIR}/${from}/ OUTPUT_VARIABLE patterns)
  file(GLOB names RELATIVE ${SOURCE_DIR}/${from} ${patterns})
  if(NOT names)
    message(FATAL_ERROR "no ${what} found in ${SOURCE_DIR}/${from}")
  endif()
  set(more ${names})
  list(TRANSFORM more PREPEND ${to}/)
  set(expected ${expected} ${more} PARENT_SCOPE)
  set(${names_var} ${names} PARENT_SCOPE)
endfunction()
expect_source_files(web share/velt/web "web player files" web_files *.js *.css *.html *.png)
expect_source_files(cluster/slurm share/velt/slurm "Slurm job scripts" slurm_files *.sh *.sbatch)

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

# the job scripts are installed executable, as sbatch and a user run them
foreach(name ${slurm_files})
  execute_process(COMMAND test -x ${prefix}/share/velt/slurm/${name} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "share/velt/slurm/${name} is not executable")
  endif()
endforeach()

# the installed program runs from the prefix alone
execute_process(COMMAND ${prefix}/bin/velt --version
  RESULT_VARIABLE status OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0 OR NOT version MATCHES "^velt ${VERSION} \\(commit ")
  message(FATAL_ERROR "installed velt --version: status ${status}, output '${version}'")
endif()
file(REMOVE_RECURSE ${prefix})
