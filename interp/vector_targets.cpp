// The copies of the vector kernels, best first, and the choice among them.
//
// The build compiles interp/vector_kernels.cpp once for each vector unit of
// the target architecture (CMakeLists.txt, "The vector kernels") and
// defines QUILLMORPH_KERNELS_<UNIT> for each copy it made:
//
//   x86-64        avx512 (8 doubles a register), avx2 (4), sse2 (2, every
//                 x86-64 processor has it)
//   ARM64         neon (2, every ARM64 processor has it)
//   WebAssembly   wasm-simd128 (2, where the module is built with SIMD)
//   everywhere    generic (plain doubles, for any processor)
//
// The process runs the first copy the processor and the operating system
// can run, chosen once.  QUILLMORPH_CPU may name a copy instead, to compare
// them or to rule out a unit: it lowers the choice and can never raise it,
// and a name that is unknown, or whose copy this processor cannot run,
// leaves no copy at all, so that every call fails and says why rather than
// quietly running something else.
#include <cstring>

#include "interp/vector_kernels.h"
#include "platform/vector_units.h"

namespace quillmorph {

// Each copy's table, defined by interp/vector_kernels.cpp compiled for its
// unit.  Declared for every unit: only the copies the build made are named
// below.
#define QUILLMORPH_KERNEL_COPY(space)   \
    namespace space {                   \
    extern const VectorKernels kernels; \
    }
QUILLMORPH_KERNEL_COPY(kernels_avx512)
QUILLMORPH_KERNEL_COPY(kernels_avx2)
QUILLMORPH_KERNEL_COPY(kernels_sse2)
QUILLMORPH_KERNEL_COPY(kernels_neon)
QUILLMORPH_KERNEL_COPY(kernels_wasm_simd128)
QUILLMORPH_KERNEL_COPY(kernels_generic)
#undef QUILLMORPH_KERNEL_COPY

namespace {

// Units that every processor of the architecture has.
bool always() { return true; }

struct VectorTarget {
    const char* name;
    const VectorKernels* kernels;
    bool (*runs_here)();
};

const VectorTarget targets[] = {
#if defined(QUILLMORPH_KERNELS_AVX512)
    {"avx512", &kernels_avx512::kernels, platform_runs_avx512},
#endif
#if defined(QUILLMORPH_KERNELS_AVX2)
    {"avx2", &kernels_avx2::kernels, platform_runs_avx2},
#endif
#if defined(QUILLMORPH_KERNELS_SSE2)
    {"sse2", &kernels_sse2::kernels, always},
#endif
#if defined(QUILLMORPH_KERNELS_NEON)
    {"neon", &kernels_neon::kernels, always},
#endif
#if defined(QUILLMORPH_KERNELS_WASM_SIMD128)
    {"wasm-simd128", &kernels_wasm_simd128::kernels, always},
#endif
    {"generic", &kernels_generic::kernels, always},
};

// The best copy that runs here, or the one the setting names if it runs
// here; nullptr for a name that is unknown or does not run here.
const VectorTarget* choose() {
    const char* setting = platform_vector_setting();
    for (const VectorTarget& target : targets) {
        if (setting ? std::strcmp(setting, target.name) == 0 : target.runs_here())
            return target.runs_here() ? &target : nullptr;
    }
    return nullptr;
}

const VectorTarget* chosen() {
    static const VectorTarget* const target = choose();
    return target;
}

}  // namespace

const VectorKernels* vector_kernels() {
    const VectorTarget* target = chosen();
    return target ? target->kernels : nullptr;
}

const char* vector_target_name() {
    const VectorTarget* target = chosen();
    return target ? target->name : nullptr;
}

}  // namespace quillmorph
