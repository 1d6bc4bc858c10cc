// Run-time choice of the vector code.
//
// QUILLMORPH_CLONES("avx512f", "avx2", "default") compiles a function once
// for each listed x86-64 processor and picks the copy for the processor the
// program runs on, where the build found that the toolchain can
// (QUILLMORPH_HAVE_TARGET_CLONES: ELF with ifunc, x86-64, and dispatch not
// switched off).  Everywhere else it expands to nothing and the generic
// vector code is compiled for the target's own vector unit (SSE2, NEON).
// Every copy computes the same bits: the copies differ only in vector width.
#ifndef QUILLMORPH_LINALG_VECTOR_DISPATCH_H
#define QUILLMORPH_LINALG_VECTOR_DISPATCH_H

#if defined(QUILLMORPH_HAVE_TARGET_CLONES)
#define QUILLMORPH_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#else
#define QUILLMORPH_CLONES(...)
#endif

#endif
