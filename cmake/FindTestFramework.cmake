# Finds GoogleTest for the tests and sets QUILLMORPH_BUILD_TESTS.
#
# GoogleTest is the installed one for native builds; it is built from its
# sources with the project when cross compiling (the installed library is
# for the build machine) or when none is installed.  Without it the tests
# are off (QUILLMORPH_TESTS=AUTO, the default) or the configuration stops
# (QUILLMORPH_TESTS=ON), saying which package brings it.
set(QUILLMORPH_GTEST_SOURCE "/usr/src/googletest" CACHE PATH
    "GoogleTest sources, built with the tests when cross compiling or when no installed GoogleTest is found")
set(QUILLMORPH_BUILD_TESTS OFF)
if(QUILLMORPH_TESTS)  # AUTO and ON are both true to CMake
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(GTest QUIET)
  endif()
  if(NOT TARGET GTest::gtest AND EXISTS "${QUILLMORPH_GTEST_SOURCE}/CMakeLists.txt")
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${QUILLMORPH_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # Not our code: our warning flags (and -Werror) are not its business.
    target_compile_options(gtest PRIVATE -w)
    target_compile_options(gtest_main PRIVATE -w)
    # GoogleTest 1.12 and newer name their targets so themselves.
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  endif()
  set(missing "GoogleTest is not installed (Debian: apt-get install googletest; or set QUILLMORPH_GTEST_SOURCE to its sources)")
  if(TARGET GTest::gtest)
    set(QUILLMORPH_BUILD_TESTS ON)
  elseif(QUILLMORPH_TESTS STREQUAL "AUTO")
    message(STATUS "Quillmorph: the tests are off: ${missing}")
  else()
    message(FATAL_ERROR "QUILLMORPH_TESTS=ON, but ${missing}")
  endif()
endif()
