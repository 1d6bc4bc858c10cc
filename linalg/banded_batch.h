// Eight banded systems side by side: the shortcuts of linalg/banded.h for a
// batch (linalg/batch.h), part of the vector kernels.
//
// The row taking column j's pivot is row j in every system: a system whose
// column has no pivot would fall behind the others, so it is handed back
// unsettled, and so is one that meets a -0.0 in b, an infinity or a NaN.
// The checks that accumulate over a solve are unsigned arithmetic on a
// value's bits that sets the top bit of a system's word: comparisons would
// leave their masks to be combined lane by lane on some units.
#ifndef QUILLMORPH_LINALG_BANDED_BATCH_H
#define QUILLMORPH_LINALG_BANDED_BATCH_H

#include <cstddef>
#include <cstdint>

#include "linalg/banded.h"
#include "linalg/batch.h"
#include "linalg/elimination.h"

namespace quillmorph {
namespace QUILLMORPH_KERNEL_NAMESPACE {

namespace banded_batch {

using banded::band_end;
using banded::for_rows_above;
using banded::reach_of;
using elimination::divide;
using elimination::max_masked_rows;
using elimination::search_pivot;
using elimination::subtract_multiple;

constexpr std::uint64_t exponent_unit = 1ULL << 52;

// Infinite or NaN: an all-ones exponent carries into the top bit.
QUILLMORPH_INLINE BatchBits flag_not_finite(const Batch& v) {
    return (bits_of(v) & exponent_bits) + exponent_unit;
}
// +0.0 or -0.0.
QUILLMORPH_INLINE BatchBits flag_zero(const Batch& v) { return (bits_of(v) & ~sign_bit) - 1; }
// -0.0: x - 1 & ~x has its top bit set only for x = 0.
QUILLMORPH_INLINE BatchBits flag_negative_zero(const Batch& v) {
    const BatchBits x = bits_of(v) ^ sign_bit;
    return (x - 1) & ~x;
}

QUILLMORPH_INLINE std::size_t larger(std::size_t x, std::size_t y) { return x > y ? x : y; }
QUILLMORPH_INLINE std::size_t smaller(std::size_t x, std::size_t y) { return x < y ? x : y; }

// The state of a batch solve.  Row i holds its entries up to stored_to[i]
// and +0.0 in every system from there on, which is never read: a row is
// stored only as far as it has been filled, and the caller need not clear
// what lies outside the band.
struct Band {
    std::size_t stored_to[max_masked_rows];
    bool holds_negative_zero[max_masked_rows];
};

QUILLMORPH_INLINE Batch stored_entry(const Band& s, std::size_t n, const Batch* a, std::size_t i,
                                     std::size_t c) {
    return c < s.stored_to[i] ? a[i * n + c] : Batch{};
}

// Each system exchanges row j with its own pivot row h, if another.
QUILLMORPH_INLINE void exchange_rows(Band& s, std::size_t n, Batch* a, Batch* b, std::size_t j,
                                     std::size_t reach, const Batch& h) {
    if (!any(differ(h, row_number(j, h)))) return;
    for (std::size_t k = j + 1; k <= reach; ++k) {
        const BatchMask exchange = row_is(h, k);
        if (!any(exchange)) continue;
        const std::size_t to = larger(s.stored_to[j], s.stored_to[k]);
        for (std::size_t c = j; c < to; ++c) {
            const Batch x = stored_entry(s, n, a, j, c), y = stored_entry(s, n, a, k, c);
            a[j * n + c] = select(exchange, y, x);
            a[k * n + c] = select(exchange, x, y);
        }
        const Batch x = b[j], y = b[k];
        b[j] = select(exchange, y, x);
        b[k] = select(exchange, x, y);
        s.stored_to[j] = s.stored_to[k] = to;
    }
}

// Divides pivot row j and its right-hand side by p.  Column j itself would
// become 1.0 and is never read again.  A negative pivot turns the row's
// zeros into -0.0, so the row is then divided to its end and marked.
QUILLMORPH_INLINE Batch normalise_row(Band& s, BatchBits& bad, std::size_t n, Batch* a, Batch* b,
                                      std::size_t j, const Batch& p) {
    Batch* pivot_row = a + j * n;
    BatchBits negative_zero = {};
    const std::size_t end = s.stored_to[j];
    for (std::size_t c = j + 1; c < end; ++c) {
        pivot_row[c] = divide(pivot_row[c], p);
        bad |= flag_not_finite(pivot_row[c]);
        negative_zero |= flag_negative_zero(pivot_row[c]);
    }
    const bool negative = any_flag(bits_of(p));  // or -0.0 or NaN, systems already bad
    if (negative) {
        for (std::size_t c = end; c < n; ++c) pivot_row[c] = divide(Batch{}, p);
        s.stored_to[j] = n;
    }
    s.holds_negative_zero[j] = negative || any_flag(negative_zero);
    b[j] = divide(b[j], p);
    bad |= flag_not_finite(b[j]);
    return b[j];
}

// Clears column j from row i (its entry there would become 0.0 and is
// never read again).  Past the pivot row's end the updates change nothing,
// except in a row that may hold -0.0, which is updated to its end: -0.0 -
// f * 0 is +0.0 when f is negative.
QUILLMORPH_INLINE void clear_row(Band& s, BatchBits& bad, std::size_t n, Batch* a, Batch* b,
                                 std::size_t i, std::size_t j, std::size_t end, const Batch& b_j) {
    Batch* row = a + i * n;
    const Batch* pivot_row = a + j * n;
    const Batch f = stored_entry(s, n, a, i, j);
    bad |= flag_not_finite(f);
    const std::size_t to = s.holds_negative_zero[i] ? n : end;
    const std::size_t both_stored = smaller(smaller(s.stored_to[i], s.stored_to[j]), to);
    std::size_t c = j + 1;
    for (; c < both_stored; ++c) row[c] = subtract_multiple(row[c], f, pivot_row[c]);
    for (; c < to; ++c)
        row[c] = subtract_multiple(stored_entry(s, n, a, i, c), f, stored_entry(s, n, a, j, c));
    if (s.stored_to[i] < to) s.stored_to[i] = to;
    b[i] = subtract_multiple(b[i], f, b_j);
}

// The rows below within reach, then those above whose result is wanted.
// The pivot row is read from memory for every row, not held in registers:
// holding it made GCC's solvers slower on AVX-512 and AVX2 alike.
QUILLMORPH_INLINE void clear_rows(Band& s, BatchBits& bad, std::size_t n, Batch* a, Batch* b,
                                  std::size_t j, std::size_t reach, std::size_t end,
                                  const Batch& b_j, std::uint32_t finished_rows) {
    for (std::size_t i = j + 1; i <= reach; ++i) clear_row(s, bad, n, a, b, i, j, end, b_j);
    for_rows_above(finished_rows, j, [&](std::size_t i) QUILLMORPH_INLINE_LAMBDA {
        clear_row(s, bad, n, a, b, i, j, end, b_j);
    });
}

// Eight banded systems, N and BANDWIDTH fixed at compile time by the caller
// or 0 for sizes known only at run time; the terms and the result as for
// SolveBandedBatch (linalg/solve_batch.h).
template <std::size_t N, std::size_t BANDWIDTH>
QUILLMORPH_INLINE std::uint32_t solve_sized(std::size_t n_runtime, std::size_t bandwidth_runtime,
                                            Batch* b, Batch* a, std::uint32_t finished_rows) {
    static_assert(N <= max_masked_rows, "the row mask has 32 bits");
    const std::size_t n = N ? N : n_runtime;
    const std::size_t bandwidth = N ? BANDWIDTH : bandwidth_runtime;
    Band s;
    BatchBits bad = {};  // the systems to hand back unsettled
    for (std::size_t i = 0; i < n; ++i) {
        bad |= flag_negative_zero(b[i]) | flag_not_finite(b[i]);
        s.stored_to[i] = band_end(i, bandwidth, n);
        s.holds_negative_zero[i] = false;
    }
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t reach = reach_of(j, bandwidth, n);
        Batch p = a[j * n + j];
        Batch h = row_number(j, p);
        search_pivot(p, h, j + 1, reach + 1,
                     [&](std::size_t k) QUILLMORPH_INLINE_LAMBDA { return a[k * n + j]; });
        bad |= flag_zero(p) | flag_not_finite(p);
        exchange_rows(s, n, a, b, j, reach, h);
        // The pivot row's filled end before normalising: a negative pivot
        // fills the rest of the row with -0.0, which only rows that may hold
        // -0.0 themselves need to meet.
        const std::size_t end = s.stored_to[j];
        const Batch b_j = normalise_row(s, bad, n, a, b, j, p);
        clear_rows(s, bad, n, a, b, j, reach, end, b_j, finished_rows);
    }
    return systems_without(bad);
}

}  // namespace banded_batch

}  // namespace QUILLMORPH_KERNEL_NAMESPACE
}  // namespace quillmorph

#endif
