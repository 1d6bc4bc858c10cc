// The Gauss-Jordan elimination with partial pivoting, each step written
// once: the definition of every solver's bits.
//
// A value V is a double, or a lane_vector holding eight independent systems,
// one in each lane.  An operation on a lane vector is the same IEEE
// operation on each lane, each rounded on its own, so a lane ends with the
// bits the same steps give on doubles.  Where the elimination makes a
// choice that depends on the data (which row holds the pivot, whether a
// column has one), a double takes a branch and a lane vector a per-lane
// selection; each lane then has its own pivot row, its number held in a
// vector of integers (Index<V>).
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
#include <cstring>
#include <type_traits>
#include <utility>

#include "linalg/solve_lanes.h"

namespace quillmorph {

// The helpers return vectors by value; they are always inlined, so no
// vector ever crosses a call and the ABI warning does not apply (GCC gives
// it at the end of the file that includes them, so it stays off there).
// Instantiated for lane_vector, the templates see the vector type without
// its alignment attribute, which only ever lowers what they assume.
#pragma GCC diagnostic ignored "-Wpsabi"
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"

#define QUILLMORPH_INLINE __attribute__((always_inline)) inline
#define QUILLMORPH_INLINE_LAMBDA __attribute__((always_inline))

namespace elimination {

// The largest system a row mask (bit i for row i) can describe.
constexpr std::size_t max_masked_rows = 32;

// The bits of a double.
constexpr std::uint64_t sign_bit = 0x8000000000000000ULL;
constexpr std::uint64_t exponent_bits = 0x7ff0000000000000ULL;

// A row number in every lane, and a lane mask (all ones where true).
typedef std::int64_t lane_index __attribute__((vector_size(solve_lanes * sizeof(std::int64_t))));
typedef std::uint64_t lane_bits __attribute__((vector_size(solve_lanes * sizeof(std::uint64_t))));
// Lane vectors as the helpers below take them: a template deduces the vector
// type without lane_vector's alignment (Clang's natural alignment of eight
// doubles is 16 bytes on ARM64), so a parameter that insists on it would be
// handed less.  The operations are the same.
typedef double lane_value __attribute__((vector_size(solve_lanes * sizeof(double))));

template <class V>
struct Kind;
template <>
struct Kind<double> {
    using index = std::size_t;
};
template <>
struct Kind<lane_vector> {
    using index = lane_index;
};
template <class V>
using Index = typename Kind<V>::index;

// ---- Values -------------------------------------------------------------

QUILLMORPH_INLINE lane_bits bits_of(const lane_value& v) {
    lane_bits bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

QUILLMORPH_INLINE double magnitude(double v) { return std::fabs(v); }
QUILLMORPH_INLINE lane_vector magnitude(const lane_value& v) {
    const lane_bits bits = bits_of(v) & ~sign_bit;
    lane_vector m;
    std::memcpy(&m, &bits, sizeof m);
    return m;
}

// x where take holds, y elsewhere.
template <class T>
QUILLMORPH_INLINE T select(bool take, const T& x, const T& y) {
    return take ? x : y;
}
QUILLMORPH_INLINE lane_vector select(const lane_index& take, const lane_value& x,
                                     const lane_value& y) {
    return take ? x : y;
}
QUILLMORPH_INLINE lane_index select(const lane_index& take, const lane_index& x,
                                    const lane_index& y) {
    return take ? x : y;
}

template <class V>
QUILLMORPH_INLINE Index<V> row_number(std::size_t k);
template <>
QUILLMORPH_INLINE std::size_t row_number<double>(std::size_t k) {
    return k;
}
// Built by an addition, not returned as an initializer: GCC optimises this
// function for the baseline processor before inlining it, and there an
// eight-wide initializer becomes one store per lane, which the AVX-512 copies
// then rebuild lane by lane (eight masked broadcasts instead of one).
template <>
QUILLMORPH_INLINE lane_index row_number<lane_vector>(std::size_t k) {
    lane_index v = {};
    v += static_cast<std::int64_t>(k);
    return v;
}

// Comparisons: a bool, or a lane mask.
QUILLMORPH_INLINE bool greater(double x, double y) { return x > y; }
QUILLMORPH_INLINE lane_index greater(const lane_value& x, const lane_value& y) { return x > y; }
QUILLMORPH_INLINE bool nonzero(double x) { return x != 0.0; }
QUILLMORPH_INLINE lane_index nonzero(const lane_value& x) { return x != 0.0; }

QUILLMORPH_INLINE bool any(bool m) { return m; }
QUILLMORPH_INLINE bool any(const lane_index& m) {
    std::int64_t any = 0;
    for (std::size_t l = 0; l < solve_lanes; ++l) any |= m[l];
    return any != 0;
}

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
        h = select(larger, row_number<V>(k), h);
    }
}

QUILLMORPH_INLINE void exchange_rows(double* a, double* b, std::size_t n, std::size_t r,
                                     std::size_t h) {
    std::swap_ranges(a + r * n, a + r * n + n, a + h * n);
    std::swap(b[r], b[h]);
}

// Row access by row number.  A double's rows are addressed directly; a lane
// vector's row r differs from lane to lane, so its entries are gathered and
// stored by selection over every row.
QUILLMORPH_INLINE double entry(const double* a, std::size_t n, std::size_t r, std::size_t c) {
    return a[r * n + c];
}
QUILLMORPH_INLINE lane_vector gather(const lane_vector* v, std::size_t rows, std::size_t stride,
                                     const lane_index& r, std::size_t c) {
    lane_vector x = {};
    for (std::size_t k = 0; k < rows; ++k)
        x = select(r == static_cast<std::int64_t>(k), v[k * stride + c], x);
    return x;
}
QUILLMORPH_INLINE lane_vector entry(const lane_vector* a, std::size_t n, const lane_index& r,
                                    std::size_t c) {
    return gather(a, n, n, r, c);
}

// The candidates below row r: for a double rows r + 1 on, for a lane vector
// every row after the first, with zeros (never a larger magnitude) in the
// lanes whose row r is not above it.
QUILLMORPH_INLINE std::size_t first_candidate(std::size_t r) { return r + 1; }
QUILLMORPH_INLINE std::size_t first_candidate(const lane_index&) { return 1; }
QUILLMORPH_INLINE double candidate(const double* a, std::size_t n, std::size_t, std::size_t k,
                                   std::size_t j) {
    return a[k * n + j];
}
QUILLMORPH_INLINE lane_vector candidate(const lane_vector* a, std::size_t n, const lane_index& r,
                                        std::size_t k, std::size_t j) {
    return select(r < static_cast<std::int64_t>(k), a[k * n + j], lane_vector{});
}

// The pivot row after the exchange and the normalisation.
template <class V>
struct PivotRow {
    const V* row;  // n entries
    V b;
};

// Exchanges rows r and h and divides the pivot row, from column j on, and
// its right-hand side by the pivot p (in the lanes where found holds).
QUILLMORPH_INLINE PivotRow<double> take_pivot_row(double* a, double* b, std::size_t n,
                                                  std::size_t j, std::size_t r, std::size_t h,
                                                  double p, bool, double*) {
    if (h != r) exchange_rows(a, b, n, r, h);
    double* row = a + r * n;
    for (std::size_t c = j; c < n; ++c) row[c] = divide(row[c], p);
    b[r] = divide(b[r], p);
    return {row, b[r]};
}
QUILLMORPH_INLINE PivotRow<lane_vector> take_pivot_row(lane_value* a, lane_value* b, std::size_t n,
                                                       std::size_t j, const lane_index& r,
                                                       const lane_index& h, const lane_value& p,
                                                       const lane_index& found,
                                                       lane_value* pivot_row) {
    // Row -1 is no row: lanes without a pivot store nothing.
    const lane_index none = lane_index{} - 1;
    const lane_index pivot_at = select(found, r, none);
    lane_index exchange_at = select(h == r, none, h);
    exchange_at = select(found, exchange_at, none);
    const auto place = [&](lane_value* v, std::size_t stride, std::size_t c,
                           const lane_value& pivot) QUILLMORPH_INLINE_LAMBDA {
        const lane_vector displaced = gather(v, n, stride, r, c);
        for (std::size_t k = 0; k < n; ++k) {
            lane_value& e = v[k * stride + c];
            e = select(exchange_at == static_cast<std::int64_t>(k), displaced, e);
            e = select(pivot_at == static_cast<std::int64_t>(k), pivot, e);
        }
    };
    const lane_vector pivot_b = divide(gather(b, n, 1, h, 0), p);
    for (std::size_t c = 0; c < n; ++c) {
        lane_vector pivot = entry(a, n, h, c);
        if (c >= j) pivot = divide(pivot, p);
        pivot_row[c] = pivot;
        place(a, n, c, pivot);
    }
    place(b, 1, 0, pivot_b);
    return {pivot_row, pivot_b};
}

// The rows cleared from the pivot row: every row but r itself, in the
// lanes that found a pivot.  A lane vector keeps them as a bit mask per lane
// (GCC turns a combination of two comparisons into lane-by-lane code).
QUILLMORPH_INLINE bool column_skipped(bool found) { return !found; }
QUILLMORPH_INLINE bool column_skipped(const lane_index&) { return false; }  // selections instead
QUILLMORPH_INLINE bool rows_cleared(std::size_t, std::size_t, bool) { return true; }
QUILLMORPH_INLINE lane_index rows_cleared(std::size_t n, const lane_index& r,
                                          const lane_index& found) {
    const lane_index one = lane_index{} + 1;
    return select(found, (one << n) - 1 - (one << r), lane_index{});
}
QUILLMORPH_INLINE bool skipped(std::size_t i, std::size_t r) { return i == r; }
QUILLMORPH_INLINE bool skipped(std::size_t, const lane_index&) { return false; }
QUILLMORPH_INLINE bool cleared(bool, std::size_t) { return true; }
QUILLMORPH_INLINE lane_index cleared(const lane_index& rows, std::size_t i) {
    return ((rows >> i) & 1) != 0;
}

// Whether a row is left to take a pivot; lanes run every column.
QUILLMORPH_INLINE bool rows_left(std::size_t r, std::size_t n) { return r < n; }
QUILLMORPH_INLINE bool rows_left(const lane_index&, std::size_t) { return true; }

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
    const auto rows = rows_cleared(n, r, found);
    for (std::size_t i = 0; i < n; ++i) {
        if (skipped(i, r)) continue;
        const auto clear = cleared(rows, i);
        V* row = a + i * n;
        const V f = row[j];  // read before the row changes
        for (std::size_t c = j; c < n; ++c)
            row[c] = select(clear, subtract_multiple(row[c], f, pivot.row[c]), row[c]);
        b[i] = select(clear, subtract_multiple(b[i], f, pivot.b), b[i]);
    }
    return select(found, r + 1, r);
}

// The whole elimination.  A lane vector's systems may have at most
// max_masked_rows unknowns (the pivot row is held on the side).
template <class V, std::size_t N>
QUILLMORPH_INLINE void eliminate(std::size_t n_runtime, V* b, V* a) {
    static_assert(std::is_same<V, double>::value || N <= max_masked_rows,
                  "lane systems hold 32 rows at most");
    const std::size_t n = N ? N : n_runtime;
    Index<V> r = {};
    for (std::size_t j = 0; j < n; ++j) {
        if (!rows_left(r, n)) break;  // every row has its pivot
        r = eliminate_column(a, b, n, j, r);
    }
}

}  // namespace elimination

#pragma GCC diagnostic pop

}  // namespace quillmorph

#endif
