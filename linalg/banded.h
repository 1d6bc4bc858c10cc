// The shortcuts: the elimination of linalg/elimination.h with the
// operations left out that provably change nothing, for banded systems
// (entries (i, k) with |i - k| > bandwidth are +0.0) whose caller wants only
// some rows of the result.
//
// Why the results are the reference's bits.
//
// - x - f * 0 and x - 0 * y are x again, for finite f and y and any x that
//   is not -0.0 (for x = -0.0 the result may be +0.0).  So while no -0.0
//   and no infinity or NaN is about, a row whose factor is zero need not be
//   updated, nor a column beyond the pivot row's last non-zero entry; and
//   an update may run past that entry (whole vector groups, the widest any
//   system needs) or cover a row whose factor is zero.
// - Rows beyond the band's reach (j + bandwidth) hold zeros in column j:
//   none had an entry there, and the elimination fills a row only to the
//   right of a column it already had.  The pivot search and the updates
//   stop at the reach.
// - After a row has taken its pivot it only receives updates; nothing reads
//   it again.  A row whose result is not wanted (not in finished_rows) can
//   stop there.  The last row takes the last pivot, so the last diagonal
//   entry is the reference's whatever the mask.
// - The watch: -0.0 enters only through a pivot row's division (a negative
//   pivot turns the row's zeros into -0.0; a quotient can underflow to
//   -0.0), and infinities and NaNs through a quotient or a product.  The
//   one-system solver checks every pivot, quotient and factor it uses and,
//   the moment one fails, finishes with the full steps from the state it
//   reached, which is the reference's state in every row it keeps.  The
//   batch solver (linalg/banded_batch.h) divides a negative pivot's row to
//   its end and then updates the rows that may hold -0.0 to their end; it
//   flags a system that meets a zero pivot, an infinity or a NaN, and hands
//   it back unsettled.
#ifndef QUILLMORPH_LINALG_BANDED_H
#define QUILLMORPH_LINALG_BANDED_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "linalg/elimination.h"

namespace quillmorph {

namespace banded {

using namespace elimination;

// ---- The band and the row mask, for both value types -----------------------

// The last row that can hold a non-zero entry in column j.
QUILLMORPH_INLINE std::size_t reach_of(std::size_t j, std::size_t bandwidth, std::size_t n) {
    return j + bandwidth < n - 1 ? j + bandwidth : n - 1;
}

// The end of row i's band: the row is +0.0 from there on.
QUILLMORPH_INLINE std::size_t band_end(std::size_t i, std::size_t bandwidth, std::size_t n) {
    return i + bandwidth + 1 < n ? i + bandwidth + 1 : n;
}

// Calls each(i) for the rows above r whose result is wanted, in order.  A
// count with a bit test, not a walk over the set bits: in the AVX-512 batch
// solver the walk kept the remaining mask on the stack, one more store and
// load on the way to every row's address.
template <class Each>
QUILLMORPH_INLINE void for_rows_above(std::uint32_t finished_rows, std::size_t r, Each each) {
    for (std::size_t i = 0; i < r; ++i)
        if (finished_rows >> i & 1u) each(i);
}

// ---- One system -------------------------------------------------------------

// True when no value is infinite, NaN or -0.0: bit tests on four values at a
// time, without branches.
QUILLMORPH_INLINE bool all_plain(const double* v, std::size_t count) {
    typedef std::uint64_t four_words __attribute__((vector_size(4 * sizeof(std::uint64_t))));
    const four_words sign = four_words{} + sign_bit, exponent = four_words{} + exponent_bits;
    four_words bad = {};
    const std::size_t chunks = count / 4;
    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
        four_words bits;
        std::memcpy(&bits, v + 4 * chunk, sizeof bits);
        bad |= (bits == sign) | ((bits & exponent) == exponent);
    }
    std::uint64_t any = bad[0] | bad[1] | bad[2] | bad[3];
    for (std::size_t k = 4 * chunks; k < count; ++k) {
        std::uint64_t bits;
        std::memcpy(&bits, v + k, sizeof bits);
        any |= static_cast<std::uint64_t>(bits == sign_bit) |
               static_cast<std::uint64_t>((bits & exponent_bits) == exponent_bits);
    }
    return any == 0;
}

// The columns a row update covers: from column j to end (the pivot row is
// +0.0 from there on).  Where that span fits one or two groups of eight
// columns the update covers the whole groups (a few vector operations),
// shifted left near the end of the row (the pivot row is +0.0 left of j as
// well); otherwise exactly the span (groups == 0).
constexpr std::size_t group_width = 8;
constexpr std::size_t max_groups = 2;
typedef double group __attribute__((vector_size(group_width * sizeof(double))));

struct Span {
    std::size_t from;
    std::size_t to;
    std::size_t groups;
};

QUILLMORPH_INLINE Span update_span(std::size_t n, std::size_t j, std::size_t end) {
    const std::size_t groups = (end - j + group_width - 1) / group_width;
    if (groups > max_groups || groups * group_width > n) return {j, end, 0};
    const std::size_t width = groups * group_width;
    const std::size_t from = j + width <= n ? j : n - width;
    return {from, from + width, groups};
}

// row[k] = op(row[k], pivot_row[k]) for k in the span, a group at a time
// where it has groups.
template <class Op>
QUILLMORPH_INLINE void over_span(double* row, const double* pivot_row, Span span, Op op) {
    if (span.groups == 0) {
        for (std::size_t k = span.from; k < span.to; ++k) row[k] = op(row[k], pivot_row[k]);
        return;
    }
    for (std::size_t g = 0; g < max_groups && g < span.groups; ++g) {
        group x, y;
        const std::size_t at = span.from + g * group_width;
        std::memcpy(&x, row + at, sizeof x);
        std::memcpy(&y, pivot_row + at, sizeof y);
        x = op(x, y);
        std::memcpy(row + at, &x, sizeof x);
    }
}

// The state of a one-system solve: end_of[i], row i is +0.0 from there on.
struct Band {
    std::size_t end_of[max_masked_rows];
};

constexpr std::size_t full_width_update = SIZE_MAX;

// Clears column j of one row from the pivot row.  A factor of zero changes
// nothing.  A factor that is not finite gets the reference's full-width
// update (f * 0 is then NaN, not 0).  Returns the end of the columns the
// update reached (0 when it changed nothing), or full_width_update.
QUILLMORPH_INLINE std::size_t clear_row(double* row, double* b_i, const double* pivot_row,
                                        double b_r, std::size_t n, std::size_t j, Span span) {
    const double f = row[j];
    if (f == 0.0) return 0;
    const bool finite = std::fabs(f) <= std::numeric_limits<double>::max();
    if (!finite) span = {j, n, 0};
    over_span(row, pivot_row, span, [f](const auto& x, const auto& y) QUILLMORPH_INLINE_LAMBDA {
        return subtract_multiple(x, f, y);
    });
    *b_i = subtract_multiple(*b_i, f, b_r);
    return finite ? span.to : full_width_update;
}

// Rows below within reach first (the next pivot search waits for them),
// then the rows above whose result is wanted.  True when a row needed the
// full-width update: the rest of the solve then takes the full steps.
QUILLMORPH_INLINE bool clear_rows(Band& band, std::size_t n, double* a, double* b, std::size_t j,
                                  std::size_t r, std::size_t reach, Span span,
                                  std::uint32_t finished_rows) {
    const double* pivot_row = a + r * n;
    bool full = false;
    for (std::size_t i = r + 1; i <= reach; ++i) {
        std::size_t row_end = clear_row(a + i * n, b + i, pivot_row, b[r], n, j, span);
        if (row_end == full_width_update) {
            full = true;
            row_end = n;
        } else if (row_end != 0) {
            row_end = band.end_of[r];  // the padding of a group update added nothing
        }
        if (band.end_of[i] < row_end) band.end_of[i] = row_end;
    }
    for_rows_above(finished_rows, r, [&](std::size_t i) QUILLMORPH_INLINE_LAMBDA {
        full |= clear_row(a + i * n, b + i, pivot_row, b[r], n, j, span) == full_width_update;
    });
    return full;
}

// The rest of a column the reference's way, after the pivot row has been
// normalised up to column end: the rest of its normalisation, then every
// other row over the full width.
QUILLMORPH_INLINE void finish_column_fully(double* a, double* b, std::size_t n, std::size_t j,
                                           std::size_t r, std::size_t end, double p) {
    double* pivot_row = a + r * n;
    for (std::size_t c = end; c < n; ++c) pivot_row[c] = divide(pivot_row[c], p);
    for (std::size_t i = 0; i < n; ++i) {
        if (i == r) continue;
        const double f = a[i * n + j];
        for (std::size_t c = j; c < n; ++c)
            a[i * n + c] = subtract_multiple(a[i * n + c], f, pivot_row[c]);
        b[i] = subtract_multiple(b[i], f, b[r]);
    }
}

enum class Column { skipped, pivoted, pivoted_then_full, left_to_full };

// Column j with the shortcuts, r taking its pivot.
QUILLMORPH_INLINE Column banded_column(Band& band, std::size_t n, std::size_t bandwidth, double* a,
                                       double* b, std::size_t j, std::size_t r,
                                       std::uint32_t finished_rows) {
    const std::size_t reach = reach_of(j, bandwidth, n);
    if (r > reach) return Column::left_to_full;  // not a banded matrix
    double p = a[r * n + j];
    std::size_t h = r;
    search_pivot(p, h, r + 1, reach + 1,
                 [&](std::size_t k) QUILLMORPH_INLINE_LAMBDA { return a[k * n + j]; });
    if (p == 0.0) return Column::skipped;
    if (p < 0.0) return Column::left_to_full;  // its row's zeros would turn into -0.0
    if (h != r) {
        exchange_rows(a, b, n, r, h);
        std::swap(band.end_of[r], band.end_of[h]);
    }
    double* pivot_row = a + r * n;
    const Span span = update_span(n, j, band.end_of[r]);
    over_span(pivot_row, pivot_row, span,
              [p](const auto& x, const auto&) QUILLMORPH_INLINE_LAMBDA { return divide(x, p); });
    b[r] = divide(b[r], p);
    if (!all_plain(pivot_row + span.from, span.to - span.from) || !all_plain(b + r, 1)) {
        finish_column_fully(a, b, n, j, r, span.to, p);  // a quotient underflowed or overflowed
        return Column::pivoted_then_full;
    }
    return clear_rows(band, n, a, b, j, r, reach, span, finished_rows) ? Column::pivoted_then_full
                                                                       : Column::pivoted;
}

// One banded system, N and BANDWIDTH fixed at compile time by the caller or
// 0 for sizes known only at run time; finished_rows as for
// solve_banded_system (linalg/solve.h).  The caller vouches for the matrix
// (finite, no -0.0, +0.0 outside the band).
template <std::size_t N, std::size_t BANDWIDTH>
QUILLMORPH_INLINE void solve_banded_sized(std::size_t n_runtime, std::size_t bandwidth_runtime,
                                          double* b, double* a, std::uint32_t finished_rows) {
    static_assert(N <= max_masked_rows, "the row mask has 32 bits");
    const std::size_t n = N ? N : n_runtime;
    const std::size_t bandwidth = N ? BANDWIDTH : bandwidth_runtime;
    Band band;
    std::size_t r = 0, j = 0;
    if (all_plain(b, n)) {
        for (std::size_t i = 0; i < n; ++i) band.end_of[i] = band_end(i, bandwidth, n);
        for (; j < n && r < n; ++j) {
            const Column column = banded_column(band, n, bandwidth, a, b, j, r, finished_rows);
            if (column == Column::left_to_full) break;
            if (column != Column::skipped) ++r;
            if (column == Column::pivoted_then_full) {
                ++j;
                break;
            }
        }
    }
    for (; j < n && r < n; ++j) r = eliminate_column(a, b, n, j, r);  // whatever is left
}

}  // namespace banded

}  // namespace quillmorph

#endif
