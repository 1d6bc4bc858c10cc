// Dense linear solver for the least-squares normal equations of the estimators.
#ifndef QUILLMORPH_LINALG_SOLVE_H
#define QUILLMORPH_LINALG_SOLVE_H

// Solves A x = b in place by Gauss-Jordan elimination with partial pivoting.
//
// n        number of unknowns; n <= 0 returns at once and touches nothing.
// b        n doubles: the right-hand side on entry, the solution on return
//          (or the reduced right-hand side when a column had no pivot).
// a        n x n doubles, row-major, entry (i, k) at a[i * n + k]: A on entry,
//          its reduced row-echelon form on return.
//
// The last diagonal entry a[n * n - 1] ends as exactly 1.0 when every column
// found a non-zero pivot (the matrix is then exactly the identity) and exactly
// zero (possibly -0.0) when some column had only zero candidates.  A tiny but
// non-zero pivot counts as regular.
void solve_linear_system(int n, double* b, double* a);

#endif
