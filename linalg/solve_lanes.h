// Eight systems solved side by side.
//
// The estimators' systems all have the same shape, and most of the cost of a
// one-system solve is waiting: each column's pivot search needs the previous
// column's updates.  Solving eight at once, one system in each lane of a
// vector, keeps the processor busy and turns the data-dependent branches
// into per-lane selections.
//
// These entry points take the shape at run time; a caller that knows it at
// compile time instantiates elimination::eliminate<lane_vector, N>
// (linalg/elimination.h) or banded::solve_banded_lanes_sized<N, BANDWIDTH>
// (linalg/banded.h) in a function of its own marked QUILLMORPH_CLONES, as
// interp/estimate_batch.cpp does.
#ifndef QUILLMORPH_LINALG_SOLVE_LANES_H
#define QUILLMORPH_LINALG_SOLVE_LANES_H

#include <cstdint>

namespace quillmorph {

constexpr int solve_lanes = 8;

// Element i of the eight systems: lane l belongs to system l.  Aligned to
// its size explicitly: by default a vector's alignment depends on the
// instruction set a file is compiled for, while the solver's AVX-512 code
// expects whole aligned vectors from callers compiled for any.
typedef double lane_vector __attribute__((vector_size(solve_lanes * sizeof(double)),
                                          aligned(solve_lanes * sizeof(double))));

// b holds n lane vectors, a n x n in row-major order, entry (i, k) at
// a[i * n + k].
//
// Solves the eight systems A x = b held in lanes, by the elimination of
// solve_linear_system_reference, for a banded A: entries (i, k) with
// |i - k| > bandwidth are taken as +0.0 and never read (they need not be
// cleared), and none within the band is -0.0, infinite or NaN.  n <= 32;
// finished_rows as for solve_banded_system.
//
// Returns the mask of the lanes it settled (bit l for lane l).  For a
// settled lane every column found a pivot, so the reference's last diagonal
// entry is 1.0, and the finished rows of b hold the reference's bits.  A lane
// is left unsettled when its elimination needs steps that this solver does
// not take: a column without a pivot, a -0.0 in b to begin with, or an
// infinity or a NaN on the way; its contents are then unspecified and the
// system must be solved again from the start with solve_banded_system.
// The matrices are left holding intermediate values.
std::uint32_t solve_banded_lanes(int n, int bandwidth, lane_vector* b, lane_vector* a,
                                 std::uint32_t finished_rows);

// Solves the eight systems A x = b held in lanes with every operation of
// solve_linear_system_reference, each lane with its own pivot rows and its
// own columns without a pivot: a and b end as the reference leaves them,
// lane by lane (where both hold a NaN they may hold different NaNs), for any
// values.  Meant for small dense systems (up to 32 unknowns are solved side
// by side, larger ones lane by lane); a holds n x n vectors.
void solve_dense_lanes(int n, lane_vector* b, lane_vector* a);

}  // namespace quillmorph

#endif
