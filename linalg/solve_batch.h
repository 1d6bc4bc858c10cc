// Eight systems solved side by side: a batch.
//
// The estimators' systems all have the same shape, and most of the cost of a
// one-system solve is waiting: each column's pivot search needs the previous
// column's updates.  Solving eight independent systems at once keeps the
// processor busy and turns the data-dependent branches into per-system
// selections.  The vector kernels (interp/vector_kernels.h) solve a batch on
// whatever vector width the processor has: two systems per vector with SSE2,
// NEON or WebAssembly, four with AVX2, eight with AVX-512.  Each system
// sees the same IEEE operations in the same order whatever the width.
//
// The solvers' entry points are the kernels' solve_dense and solve_banded;
// this header holds what they share with their callers.
#ifndef QUILLMORPH_LINALG_SOLVE_BATCH_H
#define QUILLMORPH_LINALG_SOLVE_BATCH_H

#include <cstddef>
#include <cstdint>

namespace quillmorph {

// Systems in a batch.  Eight keep enough independent work in flight on
// every vector width; a mask of them fits any integer.
constexpr int batch_size = 8;

// Entry i of a batch's eight systems: element l belongs to system l.  Meant
// for storage and for reading or writing one system's value (v[l]); the
// kernels compute on it at the processor's own width.  Aligned to its size
// so that a kernel of any width reads it in whole vectors.
typedef double batch_entry
    __attribute__((vector_size(batch_size * sizeof(double)), aligned(batch_size * sizeof(double))));

// The largest batch system the solvers take side by side (a row mask of 32
// bits describes it).
constexpr std::size_t max_batch_unknowns = 32;

// The solvers' contracts, for systems held in a batch: b holds n entries, a
// n x n in row-major order, entry (i, k) at a[i * n + k].
//
// solve_dense (n <= max_batch_unknowns): solves the eight systems A x = b
// with every operation of solve_linear_system_reference, each system with its
// own pivot rows and its own columns without a pivot: a and b end as the
// reference leaves them, system by system (where both hold a NaN they may
// hold different NaNs), for any values.
//
// solve_banded (n <= max_batch_unknowns): solves them by the elimination of
// solve_linear_system_reference, for a banded A: entries (i, k) with
// |i - k| > bandwidth are taken as +0.0 and never read (they need not be
// cleared), and none within the band is -0.0, infinite or NaN;
// finished_rows as for solve_banded_system.  Returns the mask of the systems
// it settled (bit l for system l).  For a settled system every column found a
// pivot, so the reference's last diagonal entry is 1.0, and the finished rows
// of b hold the reference's bits.  A system is left unsettled when its
// elimination needs steps that this solver does not take: a column without a
// pivot, a -0.0 in b to begin with, or an infinity or a NaN on the way; its
// contents are then unspecified and it must be solved again from the start
// with solve_banded_system.  The matrices are left holding intermediate
// values.
typedef void SolveDenseBatch(std::size_t n, batch_entry* b, batch_entry* a);
typedef std::uint32_t SolveBandedBatch(std::size_t n, std::size_t bandwidth, batch_entry* b,
                                       batch_entry* a, std::uint32_t finished_rows);

}  // namespace quillmorph

#endif
