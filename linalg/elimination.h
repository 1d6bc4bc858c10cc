// The Gauss-Jordan elimination with partial pivoting, each step written
// once: the definition of every solver's bits.
//
// A value V is a double, or a Batch holding eight independent systems, one
// per element (linalg/batch.h, compiled for each vector unit).  An operation
// on a batch is the same IEEE operation on each system's element, each
// rounded on its own, so a system ends with the bits the same steps give on
// doubles.  Where the elimination makes a choice that depends on the data
// (which row holds the pivot, whether a column has one), a double takes a
// branch and a batch a per-system selection; each system then has its own
// pivot row, its number held in a Batch as well (Index<V>).  The batch's
// versions of the steps that differ are in linalg/batch.h; these templates
// find them by argument-dependent lookup.
//
// Matrices are n x n, row-major, entry (i, k) at a[i * n + k]; r is the row
// that takes the next pivot and j the column being cleared.  N is n when
// the caller knows it at compile time, 0 otherwise.
//
// The shortcuts that leave out operations which change nothing are a
// separate layer, linalg/banded.h, built from these steps.
#ifndef QUILLMORPH_LINALG_ELIMINATION_H
#define QUILLMORPH_LINALG_ELIMINATION_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "linalg/solve_batch.h"

namespace quillmorph {

// The helpers return vectors by value; they are always inlined, so no
// vector ever crosses a call and the ABI warning does not apply (GCC gives
// it at the end of the file that includes them, so it stays off there).
#pragma GCC diagnostic ignored "-Wpsabi"

// Always inlined: the vector kernels compile these helpers once per vector
// unit, and an out-of-line copy that the linker merged with another unit's
// would run that unit's instructions.
#define QUILLMORPH_INLINE __attribute__((always_inline)) inline
#define QUILLMORPH_INLINE_LAMBDA __attribute__((always_inline))

namespace elimination {

// The largest system a row mask (bit i for row i) can describe.
constexpr std::size_t max_masked_rows = max_batch_unknowns;

// The bits of a double.
constexpr std::uint64_t sign_bit = 0x8000000000000000ULL;
constexpr std::uint64_t exponent_bits = 0x7ff0000000000000ULL;

// The row numbers that go with a value: a double's are indices, a batch's
// differ from system to system and are held in a batch of doubles (small
// whole numbers, exact), which every vector unit compares natively.
template <class V>
struct Kind {
    using index = V;
};
template <>
struct Kind<double> {
    using index = std::size_t;
};
template <class V>
using Index = typename Kind<V>::index;

// ---- Values -------------------------------------------------------------

QUILLMORPH_INLINE double magnitude(double v) { return std::fabs(v); }

// x where take holds, y elsewhere.
template <class T>
QUILLMORPH_INLINE T select(bool take, const T& x, const T& y) {
    return take ? x : y;
}

// Row k, as an index like `like`.
QUILLMORPH_INLINE std::size_t row_number(std::size_t k, std::size_t /*like*/) { return k; }

// Comparisons: a bool, or a batch's mask.
QUILLMORPH_INLINE bool greater(double x, double y) { return x > y; }
QUILLMORPH_INLINE bool nonzero(double x) { return x != 0.0; }

// ---- The arithmetic: each a single rounded operation per element --------

// Division, not a multiplication by 1 / p: p / p is then exactly 1.0 and
// the other quotients are correctly rounded.
template <class V, class P>
QUILLMORPH_INLINE V divide(const V& x, const P& p) {
    return x / p;
}

// x - f * y: a multiplication and a subtraction, each rounded (never fused;
// the build turns contraction off).  Also for groups of elements (V a
// vector of columns, f one factor).
template <class V, class F, class W>
QUILLMORPH_INLINE V subtract_multiple(const V& x, const F& f, const W& y) {
    return x - f * y;
}

// ---- The steps ----------------------------------------------------------

// The pivot search.  p and h hold the first candidate (the entry of row r)
// and its row; candidate(k) gives the entries of rows from..to-1 in order.
// Only a strictly greater magnitude replaces the candidate, so the first
// entry of largest magnitude wins.
template <class V, class Candidate>
QUILLMORPH_INLINE void search_pivot(V& p, Index<V>& h, std::size_t from, std::size_t to,
                                    Candidate candidate) {
    V largest = magnitude(p);
    for (std::size_t k = from; k < to; ++k) {
        const V value = candidate(k);
        const V size = magnitude(value);
        const auto larger = greater(size, largest);
        p = select(larger, value, p);
        largest = select(larger, size, largest);
        h = select(larger, row_number(k, h), h);
    }
}

QUILLMORPH_INLINE void exchange_rows(double* a, double* b, std::size_t n, std::size_t r,
                                     std::size_t h) {
    std::swap_ranges(a + r * n, a + r * n + n, a + h * n);
    std::swap(b[r], b[h]);
}

// Entry (r, c).  A batch's row r differs from system to system; its entries
// are gathered by selection over every row (linalg/batch.h).
QUILLMORPH_INLINE double entry(const double* a, std::size_t n, std::size_t r, std::size_t c) {
    return a[r * n + c];
}

// The candidates below row r: rows r + 1 on.  A batch takes every row after
// the first, with zeros (never a larger magnitude) in the systems whose row
// r is not above it.
QUILLMORPH_INLINE std::size_t first_candidate(std::size_t r) { return r + 1; }
QUILLMORPH_INLINE double candidate(const double* a, std::size_t n, std::size_t, std::size_t k,
                                   std::size_t j) {
    return a[k * n + j];
}

// The pivot row after the exchange and the normalisation.
template <class V>
struct PivotRow {
    const V* row;  // n entries
    V b;
};

// Exchanges rows r and h and divides the pivot row, from column j on, and
// its right-hand side by the pivot p (in the systems where found holds).
QUILLMORPH_INLINE PivotRow<double> take_pivot_row(double* a, double* b, std::size_t n,
                                                  std::size_t j, std::size_t r, std::size_t h,
                                                  double p, bool, double*) {
    if (h != r) exchange_rows(a, b, n, r, h);
    double* row = a + r * n;
    for (std::size_t c = j; c < n; ++c) row[c] = divide(row[c], p);
    b[r] = divide(b[r], p);
    return {row, b[r]};
}

// The rows cleared from the pivot row: every row but r itself, where a
// pivot was found.  A double skips the column without a pivot and row r;
// a batch runs every row and selects.
QUILLMORPH_INLINE bool column_skipped(bool found) { return !found; }
QUILLMORPH_INLINE bool skipped(std::size_t i, std::size_t r) { return i == r; }
QUILLMORPH_INLINE bool cleared(bool, std::size_t, std::size_t) { return true; }

// Whether a row is left to take a pivot; batches run every column.
QUILLMORPH_INLINE bool rows_left(std::size_t r, std::size_t n) { return r < n; }

// One column of the elimination with every operation carried out.  Returns
// the next pivot row: r + 1, or r where the column had only zero candidates
// (it is skipped).
template <class V>
QUILLMORPH_INLINE Index<V> eliminate_column(V* a, V* b, std::size_t n, std::size_t j,
                                            const Index<V>& r) {
    V p = entry(a, n, r, j);
    Index<V> h = r;
    search_pivot(p, h, first_candidate(r), n,
                 [&](std::size_t k) QUILLMORPH_INLINE_LAMBDA { return candidate(a, n, r, k, j); });
    const auto found = nonzero(p);
    if (column_skipped(found)) return r;
    V pivot_buffer[std::is_same<V, double>::value ? 1 : max_masked_rows];
    const PivotRow<V> pivot = take_pivot_row(a, b, n, j, r, h, p, found, pivot_buffer);
    // Clear column j in every other row.
    for (std::size_t i = 0; i < n; ++i) {
        if (skipped(i, r)) continue;
        const auto clear = cleared(found, r, i);
        V* row = a + i * n;
        const V f = row[j];  // read before the row changes
        for (std::size_t c = j; c < n; ++c)
            row[c] = select(clear, subtract_multiple(row[c], f, pivot.row[c]), row[c]);
        b[i] = select(clear, subtract_multiple(b[i], f, pivot.b), b[i]);
    }
    return select(found, r + 1, r);
}

// The whole elimination.  A batch's systems may have at most
// max_masked_rows unknowns (the pivot row is held on the side).
template <class V, std::size_t N>
QUILLMORPH_INLINE void eliminate(std::size_t n_runtime, V* b, V* a) {
    static_assert(std::is_same<V, double>::value || N <= max_masked_rows,
                  "batch systems hold 32 rows at most");
    const std::size_t n = N ? N : n_runtime;
    Index<V> r = {};
    for (std::size_t j = 0; j < n; ++j) {
        if (!rows_left(r, n)) break;  // every row has its pivot
        r = eliminate_column(a, b, n, j, r);
    }
}

}  // namespace elimination

}  // namespace quillmorph

#endif
