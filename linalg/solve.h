// Dense linear solver for the least-squares normal equations of the estimators.
//
// These entry points take the shape at run time.  A caller that knows its
// shape at compile time instantiates the templates behind them in a function
// of its own: elimination::eliminate<double, N>
// (linalg/elimination.h) for solve_linear_system_reference's steps and
// banded::solve_banded_sized<N, BANDWIDTH> (linalg/banded.h) for
// solve_banded_system's; interp/estimator.cpp does.
#ifndef QUILLMORPH_LINALG_SOLVE_H
#define QUILLMORPH_LINALG_SOLVE_H

#include <cstdint>

namespace quillmorph {

// Solves A x = b in place by Gauss-Jordan elimination with partial pivoting.
//
// n        number of unknowns; n <= 0 returns at once and touches nothing.
// b        n doubles: the right-hand side on entry, the solution on return
//          (or the reduced right-hand side when a column had no pivot).
// a        n x n doubles, row-major, entry (i, k) at a[i * n + k]: A on entry,
//          its reduced row-echelon form on return.
//
// Column by column: the pivot is the first entry of largest magnitude from
// the next pivot row down; a column whose candidates are all zero is skipped;
// the pivot row is divided by the pivot and the column is cleared in every
// other row, above and below.  The last diagonal entry a[n * n - 1] ends as
// exactly 1.0 when every column found a non-zero pivot (the matrix is then
// exactly the identity) and exactly zero (possibly -0.0) otherwise.  A tiny
// but non-zero pivot counts as regular.
//
// This version leaves out the operations that provably change nothing (rows
// whose factor is zero, columns beyond the pivot row's last non-zero entry),
// which makes banded systems several times cheaper; its results are the same
// bits as those of solve_linear_system_reference for every input (where both
// hold a NaN they may hold different NaNs: which of two NaN operands an
// operation passes on depends on how the compiler ordered them).
void solve_linear_system(int n, double* b, double* a);

// The same elimination with every operation carried out: the definition
// that the faster solvers reproduce.
void solve_linear_system_reference(int n, double* b, double* a);

// The elimination for a banded A whose entries (i, k) with |i - k| > bandwidth
// are +0.0 and none of whose entries is -0.0, infinite or NaN, finishing only
// the rows in finished_rows (bit i for row i; larger n, up to
// elimination::max_masked_rows = 32, or a negative bandwidth get the
// reference).  A row's last steps, after it has taken its pivot, change only
// that row, so the others can stop there.  For every finished row the
// result, in a and in b, is the same bits as solve_linear_system_reference
// gives, and so is the last diagonal entry a[n * n - 1] whatever the mask;
// the unfinished rows hold intermediate values.
void solve_banded_system(int n, int bandwidth, double* b, double* a, std::uint32_t finished_rows);

}  // namespace quillmorph

#endif
