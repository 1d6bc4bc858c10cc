# `cmake --install build --prefix P` puts under P:
#   bin/Quillmorph, share/man/man1/Quillmorph.1     the tool and its manual
#   include/quillmorph.h                            the C API
#   lib/libquillmorph.so.1 (and its links), lib/libquillmorph.a
#                                                   (a DLL, its import library
#                                                   and the static library on
#                                                   Windows)
#   lib/pkgconfig/quillmorph.pc                     for pkg-config
#   lib/cmake/Quillmorph/                           for find_package(Quillmorph)
include(CMakePackageConfigHelpers)

install(TARGETS Quillmorph RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/Quillmorph.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES include/quillmorph.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(QUILLMORPH_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quillmorph)
install(TARGETS quillmorph_shared quillmorph_static EXPORT QuillmorphTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT QuillmorphTargets NAMESPACE Quillmorph:: DESTINATION ${QUILLMORPH_CMAKE_DIR})
configure_package_config_file(cmake/QuillmorphConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/QuillmorphConfig.cmake INSTALL_DESTINATION ${QUILLMORPH_CMAKE_DIR})
# Version 1.x accepts any request for 1.y with y up to x: functions are
# added within a major version, never changed.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/QuillmorphConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QuillmorphConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/QuillmorphConfigVersion.cmake
        DESTINATION ${QUILLMORPH_CMAKE_DIR})

# The paths in quillmorph.pc are relative to its own folder, so that the
# prefix given at install time holds, and the installed tree can be moved.
file(RELATIVE_PATH QUILLMORPH_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/quillmorph.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quillmorph.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quillmorph.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
