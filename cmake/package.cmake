# The Debian package, made by CPack from the install rules: `cpack -G DEB` in
# the build directory writes velt_<version>_<arch>.deb (tools/package_check.sh
# builds and tries it). Its dependencies are what dpkg-shlibdeps finds the
# programs load at run time, nothing listed by hand.
set(VELT_PACKAGE_MAINTAINER "velt maintainers <maintainers@users.noreply.c-seed-70000d10.example>"
  CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turns numbered PNG frames into a compact looping animation")
set(CPACK_PACKAGE_DESCRIPTION "velt cuts every frame of a numbered PNG sequence into 4x4 blocks, keeps only
the blocks that changed since the previous frame and stores each as a small
fixed-size colour record, in one file that loops back to its first frame.
The encoder and its PNG decoder run inside a WebAssembly sandbox compiled
into the programs, so a malformed PNG cannot reach the rest of the process.

The velt command encodes (on several cores, or in parts on several
machines), checks, decodes and measures animation files; a static web
player for them is installed in /usr/share/velt/web, and Slurm job scripts
that encode in parts on a cluster in /usr/share/velt/slurm.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # velt_0.5.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELT_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
