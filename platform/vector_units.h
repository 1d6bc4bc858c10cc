// What the processor and the operating system let the vector kernels use,
// and the setting that narrows the choice.
#ifndef QUILLMORPH_PLATFORM_VECTOR_UNITS_H
#define QUILLMORPH_PLATFORM_VECTOR_UNITS_H

namespace quillmorph {

// Whether this x86-64 processor runs AVX2, or AVX-512F, code and the
// operating system saves the registers that code uses (a processor may list
// the instructions while the system has them switched off).  False on every
// other architecture.
bool platform_runs_avx2();
bool platform_runs_avx512();

// The text of the QUILLMORPH_CPU environment variable, or nullptr when it is
// unset or empty.
const char* platform_vector_setting();

}  // namespace quillmorph

#endif
