# What `cmake --install` puts where, under the usual directories of a
# command-line tool: the three programs, the web player's files, the manual
# pages gzip-compressed, the bash completion of velt, and the Slurm job
# scripts that encode an animation in parts on a cluster. Tests, benchmarks,
# fuzzers and tools stay in the build tree.
#
# The programs need nothing from the build tree at run time: both modules are
# translated to C and linked in, lodepng and the wasm2c runtime are static
# libraries, and velt's worker processes are forks of itself, not programs
# looked up by path.
include(GNUInstallDirs)

install(TARGETS velt velt-encode velt-encode-flags RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# the player is whatever static files web/ holds; globbed again at every build
# so that a file added later is installed without touching this list
file(GLOB VELT_WEB_FILES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/web/*.js ${CMAKE_SOURCE_DIR}/web/*.css
  ${CMAKE_SOURCE_DIR}/web/*.html ${CMAKE_SOURCE_DIR}/web/*.png)
install(FILES ${VELT_WEB_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/velt/web)

# the Slurm job scripts, run from where they are installed (README.md, "On a
# cluster"); globbed like the player, executable like the programs
file(GLOB VELT_SLURM_FILES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/cluster/slurm/*.sh ${CMAKE_SOURCE_DIR}/cluster/slurm/*.sbatch)
install(PROGRAMS ${VELT_SLURM_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/velt/slurm)

# manual pages compressed as Debian keeps them: gzip -9 without a name or a
# time stamp, so that the same page always gives the same bytes
find_program(GZIP_PROGRAM gzip REQUIRED)
set(VELT_MAN_PAGES velt.1 velt-encode.1 velt-encode-flags.1)
set(compressed_pages)
foreach(page ${VELT_MAN_PAGES})
  set(copy ${CMAKE_BINARY_DIR}/man/${page})
  add_custom_command(
    OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/man/${page} ${copy}
    COMMAND ${GZIP_PROGRAM} -9 -n -f ${copy}
    DEPENDS ${CMAKE_SOURCE_DIR}/man/${page}
    COMMENT "gzip man/${page}"
    VERBATIM)
  list(APPEND compressed_pages ${copy}.gz)
endforeach()
add_custom_target(velt_man_pages ALL DEPENDS ${compressed_pages})
install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# bash-completion loads a command's completion from a file named after it
install(FILES ${CMAKE_SOURCE_DIR}/completion/velt.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME velt)
