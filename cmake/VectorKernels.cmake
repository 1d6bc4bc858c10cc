# The vector kernels: interp/vector_kernels.cpp compiled once for each vector
# unit of the target architecture, each copy with its unit's flags and pack
# width (the doubles one register holds) into an object library of its own.
# interp/vector_targets.cpp lists the copies and chooses one at run time, on
# every system: a table of functions, no ifunc.
#
# Sets QUILLMORPH_KERNEL_LIBRARIES (the object libraries, for the library
# and the WebAssembly module) and QUILLMORPH_KERNEL_DEFINITIONS
# (QUILLMORPH_KERNELS_<UNIT> for each copy, for vector_targets.cpp).
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)

set(QUILLMORPH_KERNEL_LIBRARIES "")
set(QUILLMORPH_KERNEL_DEFINITIONS "")
set(QUILLMORPH_KERNEL_NAMES "")

# quillmorph_kernel_copy(NAME WIDTH [FLAGS...])
macro(quillmorph_kernel_copy name width)
  string(MAKE_C_IDENTIFIER "${name}" id)
  string(TOUPPER "${id}" upper_id)
  set(library quillmorph_kernels_${id})
  add_library(${library} OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/interp/vector_kernels.cpp)
  # Strict aliasing off: the kernels read the batches' storage type as
  # their own vector type (linalg/batch.h).
  target_compile_options(${library} PRIVATE ${ARGN} -fno-strict-aliasing)
  target_compile_definitions(${library} PRIVATE QUILLMORPH_KERNEL_NAMESPACE=kernels_${id}
                                                QUILLMORPH_PACK_WIDTH=${width})
  target_include_directories(${library} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
                                                ${CMAKE_CURRENT_SOURCE_DIR}/include)
  set_target_properties(${library} PROPERTIES
    POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  list(APPEND QUILLMORPH_KERNEL_LIBRARIES ${library})
  list(APPEND QUILLMORPH_KERNEL_DEFINITIONS QUILLMORPH_KERNELS_${upper_id})
  list(APPEND QUILLMORPH_KERNEL_NAMES ${name})
endmacro()

# The architecture as the compiler targets it (a cross build's, not the
# build machine's).
macro(quillmorph_target_is result condition)
  check_cxx_source_compiles("#if !(${condition})\n#error no\n#endif\nint main() { return 0; }"
                            ${result})
endmacro()
quillmorph_target_is(QUILLMORPH_TARGET_X86_64 "defined(__x86_64__)")
quillmorph_target_is(QUILLMORPH_TARGET_ARM64 "defined(__aarch64__)")

if(QUILLMORPH_TARGET_X86_64)
  # x86-64's baseline; AVX2 and AVX-512 where the compiler has them and
  # dispatch is on.
  if(QUILLMORPH_DISPATCH)
    check_cxx_compiler_flag(-mavx512f QUILLMORPH_HAVE_MAVX512F)
    check_cxx_compiler_flag(-mavx2 QUILLMORPH_HAVE_MAVX2)
    # GCC for 64-bit Windows may keep 32- and 64-byte vectors in stack
    # slots it has not aligned to them (its bug 54412); the assembler can
    # make those moves unaligned ones, which cost nothing on aligned data.
    set(wide_vector_flags "")
    if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      check_cxx_compiler_flag(-Wa,-muse-unaligned-vector-move QUILLMORPH_HAVE_UNALIGNED_VECTOR_MOVE)
      if(QUILLMORPH_HAVE_UNALIGNED_VECTOR_MOVE)
        set(wide_vector_flags -Wa,-muse-unaligned-vector-move)
      endif()
    endif()
    if(QUILLMORPH_HAVE_MAVX512F)
      quillmorph_kernel_copy(avx512 8 -mavx512f ${wide_vector_flags})
    endif()
    if(QUILLMORPH_HAVE_MAVX2)
      quillmorph_kernel_copy(avx2 4 -mavx2 ${wide_vector_flags})
    endif()
  endif()
  quillmorph_kernel_copy(sse2 2)
elseif(QUILLMORPH_TARGET_ARM64)
  quillmorph_kernel_copy(neon 2)
elseif(EMSCRIPTEN)
  quillmorph_kernel_copy(wasm-simd128 2 -msimd128)
endif()
quillmorph_kernel_copy(generic 1)
message(STATUS "Quillmorph: vector kernels for ${QUILLMORPH_KERNEL_NAMES}")
