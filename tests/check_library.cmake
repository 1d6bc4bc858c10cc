# Installs BUILD_DIR into the scratch prefix PREFIX and builds the C program
# tests/consumer/consumer.c against the installed tree twice, as C99 with
# warnings as errors: once through pkg-config, once through find_package.
# Both must write the bytes the tool TOOL writes for the chart CHART.
# Skips (saying so) where pkg-config or a C compiler is missing.
set(consumer_source ${CMAKE_CURRENT_LIST_DIR}/consumer)
file(REMOVE_RECURSE ${PREFIX} ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})

function(run)  # run(COMMAND...): fails the test when the command fails
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
endfunction()

find_program(C_COMPILER NAMES cc gcc clang)
find_program(PKG_CONFIG pkg-config)
if(NOT C_COMPILER OR NOT PKG_CONFIG)
  message("skipped: needs a C compiler and pkg-config (apt-get install gcc pkg-config)")
  return()
endif()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
run(${TOOL} ${CHART} ${SCRATCH}/tool.pgm)
file(GLOB_RECURSE pc_file ${PREFIX}/*/quillmorph.pc)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
get_filename_component(lib_dir "${pc_dir}" DIRECTORY)

# Through pkg-config.
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs quillmorph
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pkg-config does not find quillmorph in ${pc_dir}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${C_COMPILER} -std=c99 -Wall -Wextra -pedantic -Werror ${consumer_source}/consumer.c ${flags}
    -o ${SCRATCH}/consumer_pkgconfig)

# Through the CMake package.
run(${CMAKE_COMMAND} -S ${consumer_source} -B ${SCRATCH}/consumer-build
    -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_C_COMPILER=${C_COMPILER})
run(${CMAKE_COMMAND} --build ${SCRATCH}/consumer-build)

# Both run with the installed shared library, and write the tool's bytes.
set(ENV{LD_LIBRARY_PATH} ${lib_dir})
foreach(consumer ${SCRATCH}/consumer_pkgconfig ${SCRATCH}/consumer-build/consumer)
  run(${consumer} ${CHART} ${SCRATCH}/image.pgm ${SCRATCH}/rows.pgm)
  foreach(output image rows)
    run(${CMAKE_COMMAND} -E compare_files ${SCRATCH}/tool.pgm ${SCRATCH}/${output}.pgm)
  endforeach()
  execute_process(COMMAND ldd ${consumer} OUTPUT_VARIABLE linked)
  if(NOT linked MATCHES "libquillmorph.so.1 => ${lib_dir}")
    message(FATAL_ERROR "${consumer} does not load the installed libquillmorph.so.1:\n${linked}")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX} ${SCRATCH})
message("pkg-config and find_package builds write the tool's bytes")
