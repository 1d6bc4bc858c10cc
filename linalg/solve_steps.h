// The steps of the Gauss-Jordan elimination, shared by both solvers.
//
// Matrices are n x n, row-major, entry (i, k) at a[i * n + k]; r is the row
// that takes the next pivot and j the column being cleared.
#ifndef QUILLMORPH_LINALG_SOLVE_STEPS_H
#define QUILLMORPH_LINALG_SOLVE_STEPS_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace solve_steps {

// Pivot search from row r down: the first entry of largest magnitude wins,
// since only a strictly greater magnitude replaces the candidate.
inline std::size_t find_pivot(const double* a, std::size_t n, std::size_t j, std::size_t r,
                              double* pivot) {
    std::size_t h = r;
    double p = a[r * n + j];
    for (std::size_t k = r + 1; k < n; ++k) {
        if (std::fabs(a[k * n + j]) > std::fabs(p)) {
            p = a[k * n + j];
            h = k;
        }
    }
    *pivot = p;
    return h;
}

inline void exchange_rows(double* a, double* b, std::size_t n, std::size_t r, std::size_t h) {
    std::swap_ranges(a + r * n, a + r * n + n, a + h * n);
    std::swap(b[r], b[h]);
}

// Divides entries from..to-1 of the pivot row by p.  Division, not a
// multiplication by 1/p: p / p is then exactly 1.0, and the other quotients
// are correctly rounded.
inline void normalise(double* row, std::size_t from, std::size_t to, double p) {
    for (std::size_t k = from; k < to; ++k) row[k] = row[k] / p;
}

// row[k] -= f * pivot_row[k] for k = from..to-1: a multiplication and a
// subtraction, each rounded (never fused).
inline void subtract_multiple(double* row, const double* pivot_row, double f, std::size_t from,
                              std::size_t to) {
    for (std::size_t k = from; k < to; ++k) row[k] = row[k] - f * pivot_row[k];
}

// One column of the elimination with every operation carried out.  Returns
// the next pivot row: r + 1, or r when the column had only zero candidates.
inline std::size_t eliminate_column(double* a, double* b, std::size_t n, std::size_t j,
                                    std::size_t r) {
    double p = 0.0;
    const std::size_t h = find_pivot(a, n, j, r, &p);
    if (p == 0.0) return r;
    if (h != r) exchange_rows(a, b, n, r, h);
    double* pivot_row = a + r * n;
    normalise(pivot_row, j, n, p);
    b[r] = b[r] / p;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == r) continue;
        double* row = a + i * n;
        const double f = row[j];  // read before the row changes
        subtract_multiple(row, pivot_row, f, j, n);
        b[i] = b[i] - f * b[r];
    }
    return r + 1;
}

}  // namespace solve_steps

#endif
