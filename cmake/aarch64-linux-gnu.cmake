# Cross build for 64-bit ARM Linux with Debian's cross GCC
# (g++-aarch64-linux-gnu, libc6-dev-arm64-cross); ctest runs the tests under
# qemu-aarch64 (qemu-user) with the target's libraries.
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#
# Only the compilers and the search paths are set here: the project's own
# flags, -ffp-contract=off above all, apply unchanged.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(QUILLMORPH_TARGET_ROOT /usr/aarch64-linux-gnu)
# GCC unless another compiler is given: for Clang,
#   -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_COMPILER_TARGET=aarch64-linux-gnu
# (GoogleTest's build also enables C, which compiles nothing here.)
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
endif()
if(NOT CMAKE_C_COMPILER)
  set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${QUILLMORPH_TARGET_ROOT})

set(CMAKE_FIND_ROOT_PATH ${QUILLMORPH_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
