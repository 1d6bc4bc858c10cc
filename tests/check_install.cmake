# Installs BUILD_DIR into the scratch prefix PREFIX and checks that PROGRAM
# and MANUAL_PAGE (paths under the prefix) arrived; renders the manual page
# with groff, where it is installed, and fails on any warning.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(file ${PROGRAM} ${MANUAL_PAGE})
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${PREFIX}/${file}")
  endif()
endforeach()

find_program(GROFF groff)
if(GROFF)
  execute_process(COMMAND ${GROFF} -man -Tutf8 -ww -z ${PREFIX}/${MANUAL_PAGE}
                  RESULT_VARIABLE status ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "groff does not render ${MANUAL_PAGE} cleanly:\n${warnings}")
  endif()
else()
  message(STATUS "groff not found: the manual page is not rendered")
endif()
file(REMOVE_RECURSE ${PREFIX})
