#include "linalg/solve.h"

#include <cmath>
#include <cstddef>

// Gauss-Jordan elimination with partial pivoting, in place.
//
// Column j takes its pivot from rows r..n-1 (r = rows already pivoted): the
// first entry of largest magnitude.  A column whose candidates are all zero is
// skipped, so every pivot row is normalised to an exact 1.0 and every other
// row has the column cleared to an exact 0.0 (f - f * 1.0).  That is what
// makes the last diagonal entry exactly 1.0 for a regular matrix and exactly
// zero otherwise, the only signal the estimators read.
//
// b: n doubles, a: n x n doubles row-major (entry (i, k) at a[i * n + k]).
// Returns nothing; the outcome is in the two arrays.
void solve_linear_system(int n, double* b, double* a) {
    if (n <= 0) return;
    const std::size_t size = static_cast<std::size_t>(n);

    std::size_t r = 0;
    for (std::size_t j = 0; j < size && r < size; ++j) {
        // 1. Pivot search from row r down; a strict comparison keeps the
        //    uppermost of equal magnitudes.
        std::size_t h = r;
        double p = a[r * size + j];
        for (std::size_t k = r + 1; k < size; ++k) {
            if (std::fabs(a[k * size + j]) > std::fabs(p)) {
                p = a[k * size + j];
                h = k;
            }
        }

        // 2. Only an exact zero (of either sign) skips the column; any other
        //    pivot, however small, is used.
        if (p == 0.0) continue;

        // 3. Row exchange over the whole row.
        if (h != r) {
            double* row_r = a + r * size;
            double* row_h = a + h * size;
            for (std::size_t k = 0; k < size; ++k) {
                const double held = row_r[k];
                row_r[k] = row_h[k];
                row_h[k] = held;
            }
            const double held = b[r];
            b[r] = b[h];
            b[h] = held;
        }

        // 4. Normalisation by division, not by a reciprocal: p / p is exactly
        //    1.0, and the bits of the other entries depend on it.
        double* pivot_row = a + r * size;
        for (std::size_t k = j; k < size; ++k) pivot_row[k] = pivot_row[k] / p;
        b[r] = b[r] / p;

        // 5. Clear column j in every other row, above and below, f == 0 rows
        //    included.  f is read once, before the row changes.  Columns left
        //    of j are zero in the pivot row and stay untouched.
        for (std::size_t i = 0; i < size; ++i) {
            if (i == r) continue;
            double* row = a + i * size;
            const double f = row[j];
            for (std::size_t k = j; k < size; ++k) row[k] = row[k] - f * pivot_row[k];
            b[i] = b[i] - f * b[r];
        }

        ++r;
    }
}
