# Cross build for 64-bit Windows with MinGW-w64 (g++-mingw-w64-x86-64-posix:
# the POSIX thread model, which std::thread needs); ctest runs the tests
# under wine.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake
#
# Only the compilers, the search paths and static linking are set here: the
# project's own flags, -ffp-contract=off above all, apply unchanged.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLMORPH_TARGET_ROOT /usr/x86_64-w64-mingw32)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Debian's wine64 package installs the loader as wine, or only as
# /usr/lib/wine/wine64.
find_program(QUILLMORPH_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUILLMORPH_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLMORPH_WINE})
endif()

# The C++ runtime, libgcc and winpthread linked in: the programs and the
# library's DLL then run without any other DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

set(CMAKE_FIND_ROOT_PATH ${QUILLMORPH_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
