// The vector kernels: the estimators' batch work, compiled once for each
// vector unit the target architecture has, and the table of the copy this
// process runs.
//
// interp/vector_kernels.cpp is the one source of every copy; the build
// compiles it once per vector unit with that unit's flags and pack width.
// interp/vector_targets.cpp lists the copies and chooses one, once per
// process: the widest this processor and its operating system run, or the
// one the QUILLMORPH_CPU environment variable names.  Every copy computes
// the same bits.
#ifndef QUILLMORPH_INTERP_VECTOR_KERNELS_H
#define QUILLMORPH_INTERP_VECTOR_KERNELS_H

#include <cstdint>

#include "interp/lattice.h"
#include "linalg/solve_batch.h"

namespace quillmorph {

struct VectorKernels {
    // The normal equations of eight targets' model fits, system l from
    // windows[l] (interp/estimator_assembly.h, assemble_models).
    void (*assemble_models)(const Lattice& lattice, const double* const windows[batch_size],
                            int stride, batch_entry* vector, batch_entry* matrix);
    // The model systems solved with every step of the reference.
    void (*solve_models)(batch_entry* b, batch_entry* a);
    // The band of eight block matrices from their coefficients, a[k] the
    // k-th coefficient of every system (assemble_block_band).
    void (*assemble_block_bands)(const batch_entry* a, batch_entry* matrix);
    // The block systems, banded; returns the settled systems.
    std::uint32_t (*solve_blocks)(batch_entry* b, batch_entry* a, std::uint32_t finished_rows);
    // The solvers for shapes known at run time (linalg/solve_batch.h).
    SolveDenseBatch* solve_dense;
    SolveBandedBatch* solve_banded;
};

// The copy this process runs, or nullptr when QUILLMORPH_CPU names one that
// is unknown or that this processor cannot run: every upscale then fails.
// Chosen on the first call.
const VectorKernels* vector_kernels();

// The batch solvers for shapes known only at run time, on the process's
// kernels, as SolveDenseBatch and SolveBandedBatch (linalg/solve_batch.h)
// for any n: nothing happens for n <= 0; larger systems than
// max_batch_unknowns are solved system by system with the reference
// (dense) or left unsettled (banded), and so is every system of a banded
// call with a negative bandwidth.  A bandwidth of n or more is n - 1.
// For the tests and the benchmarks; the estimators call the table.
void solve_dense_batch(int n, batch_entry* b, batch_entry* a);
std::uint32_t solve_banded_batch(int n, int bandwidth, batch_entry* b, batch_entry* a,
                                 std::uint32_t finished_rows);

// Its name ("avx512", "avx2", "sse2", "neon", "wasm-simd128" or "generic"),
// or nullptr as above.
const char* vector_target_name();

}  // namespace quillmorph

#endif
