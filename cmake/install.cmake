# Installing and packaging, included from the top CMakeLists.txt once every target is known.
#
#   cmake --install build --prefix P    P/bin/jcpack, the stubs in P/lib/entpacker/, the
#                                       manual pages in P/share/man/man1/, and the codec
#                                       library (jc/CMakeLists.txt)
#   make package                        a Debian package of the same, installing into /usr,
#                                       without the codec library's development files
#
# Only a native build has jcpack; a cross build installs the codec library alone. The
# Windows stubs are installed when `make windows` has put them beside jcpack.
if(NOT TARGET jcpack)
  return()
endif()

include(GNUInstallDirs)

# The stubs are jcpack's own files, not a library for other programs to link: they go in a
# folder of the package's own under lib/ (where Debian keeps a program's private files), the
# same on every distribution, never in a multiarch or lib64 library folder.
set(ENTPACKER_INSTALL_STUBDIR "lib/entpacker" CACHE STRING
    "Folder, under the prefix, of the stubs that jcpack puts in front of a self-extractor")
set(ENTPACKER_MAINTAINER "entpacker maintainers <maintainers@entpacker.invalid>" CACHE STRING
    "The Debian package's maintainer, \"NAME <EMAIL>\"")

# jcpack looks for the stubs relative to its own program, so that a moved prefix works; the
# absolute folder serves only where the system does not tell where the program is.
if(IS_ABSOLUTE "${ENTPACKER_INSTALL_STUBDIR}")
  set(stub_full_dir "${ENTPACKER_INSTALL_STUBDIR}")
else()
  set(stub_full_dir "${CMAKE_INSTALL_PREFIX}/${ENTPACKER_INSTALL_STUBDIR}")
endif()
file(RELATIVE_PATH stub_relative_dir "${CMAKE_INSTALL_FULL_BINDIR}" "${stub_full_dir}")
set_source_files_properties(${CMAKE_SOURCE_DIR}/tools/stub_locate.cpp TARGET_DIRECTORY jcpack
  PROPERTIES COMPILE_DEFINITIONS
  "ENTPACKER_STUB_RELATIVE_DIR=\"${stub_relative_dir}\";ENTPACKER_STUB_INSTALL_DIR=\"${stub_full_dir}\"")

# Everything below is the component `programs`; the codec library's rules have none of
# their own, so the package (which takes this component alone) leaves them out.
set(windows_stubs)
foreach(name entpacker-stub-win32.exe entpacker-stub-win64.exe)
  list(APPEND windows_stubs ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${name})
endforeach()
install(TARGETS jcpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
install(TARGETS entpacker-stub RUNTIME DESTINATION ${ENTPACKER_INSTALL_STUBDIR}
        COMPONENT programs)
# Data for jcpack here, never run: installed without the executable bits.
install(FILES ${windows_stubs} DESTINATION ${ENTPACKER_INSTALL_STUBDIR} OPTIONAL
        COMPONENT programs)
install(FILES ${CMAKE_SOURCE_DIR}/tools/jcpack.1 ${CMAKE_SOURCE_DIR}/app/entpacker.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)

# The Debian package: jcpack, the stubs and the manual pages. The codec library is a static
# library with its header and pkg-config file, which only a developer building against it
# wants, and which jcpack, linked with it, does not need at run time; Debian keeps such
# files in a -dev package of their own, so they stay out of this one.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME entpacker)
set(CPACK_PACKAGE_CONTACT "${ENTPACKER_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ENTPACKER_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-extracting archives for Linux and Windows")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "jcpack makes self-extractors: one program file that carries files and\n"
       "folders and unpacks them where it is started, on Linux or on Windows, with\n"
       "nothing else installed. jcpack also lists, checks and unpacks\n"
       "self-extractors without running them, and compresses single files and pack\n"
       "archives.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# jcpack without its debugging information (the stubs are linked stripped already).
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};entpacker;programs;/")
# The manual pages compressed in the package, as Debian has them.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress_manpages.cmake)
include(CPack)
