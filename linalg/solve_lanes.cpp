// Gauss-Jordan elimination with partial pivoting on eight systems at once:
// the banded solver for the block systems first, the dense one for the
// model systems after it.
//
// Banded: every lane carries out the reference's operations on its own system, each
// multiplication, subtraction and division rounded on its own, so a lane's
// bits are those of a one-system solve.  The lanes share the loop structure:
// the column being cleared, the rows updated and the columns each update
// covers (the widest any lane needs).  That is exact for the reasons the
// banded solver gives (linalg/solve.cpp): x - f * 0 is x for a finite f and
// any x but -0.0, so an update may cover columns where a lane's pivot row
// holds zeros, rows whose entry in the column is zero may be updated or
// not, and so may columns past the pivot row's end.  The pivot search and
// the row exchange differ between lanes and are selections.
//
// -0.0 enters the matrix only through a pivot row's division (a negative
// pivot turns its zeros into -0.0, a quotient may underflow to -0.0), and
// only pivot rows that have taken their pivot hold it; such rows are
// divided and updated to their very end, with every operation.  An
// update never makes a -0.0 of a value that was not one.
//
// The row taking column j's pivot is row j in every lane: a lane whose
// column has no pivot would fall behind the others, so it is left
// unsettled, like a lane whose right-hand side holds a -0.0 to begin with,
// or that meets an infinity or a NaN in a pivot, a quotient or a factor.
#include "linalg/solve_lanes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "linalg/solve.h"
#include "linalg/vector_dispatch.h"

// The helpers below return vectors by value; they are always inlined, so no
// vector ever crosses a call and the ABI warning does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

typedef lane_vector lanes;
typedef std::int64_t lane_words __attribute__((vector_size(solve_lanes * sizeof(std::int64_t))));
typedef std::uint64_t lane_bits __attribute__((vector_size(solve_lanes * sizeof(std::uint64_t))));

constexpr std::size_t lane_count = solve_lanes;
constexpr std::size_t max_size = 32;  // the row mask has 32 bits
constexpr std::uint64_t sign_bit = 0x8000000000000000ULL;
constexpr std::uint64_t exponent_bits = 0x7ff0000000000000ULL;

// Per-lane conditions.  GCC keeps a comparison's result in vector registers
// only while it is used on its own: combining the results of two
// comparisons makes it fall back to one lane at a time.  So the checks that
// accumulate over a solve are unsigned arithmetic on a value's bits that
// sets the top bit of a lane (flags), and a comparison only ever selects
// values.
constexpr lane_words all_lanes = {-1, -1, -1, -1, -1, -1, -1, -1};
constexpr lane_words no_lanes = {};
constexpr std::uint64_t exponent_unit = 1ULL << 52;

__attribute__((always_inline)) inline lane_bits bits_of(const lanes& v) {
    lane_bits bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

__attribute__((always_inline)) inline lanes magnitude(const lanes& v) {
    const lane_bits bits = bits_of(v) & ~sign_bit;
    lanes m;
    std::memcpy(&m, &bits, sizeof m);
    return m;
}

// Flags the lanes where v is infinite or NaN: an all-ones exponent carries
// into the top bit.
__attribute__((always_inline)) inline lane_bits flag_not_finite(const lanes& v) {
    return (bits_of(v) & exponent_bits) + exponent_unit;
}

// Flags the lanes where v is +0.0 or -0.0.
__attribute__((always_inline)) inline lane_bits flag_zero(const lanes& v) {
    return (bits_of(v) & ~sign_bit) - 1;
}

// Flags the lanes where v is -0.0: x - 1 & ~x has its top bit set only for
// x = 0.
__attribute__((always_inline)) inline lane_bits flag_negative_zero(const lanes& v) {
    const lane_bits x = bits_of(v) ^ sign_bit;
    return (x - 1) & ~x;
}

__attribute__((always_inline)) inline bool any_flag(const lane_bits& flags) {
    std::uint64_t any = 0;
    for (std::size_t l = 0; l < lane_count; ++l) any |= flags[l];
    return (any & sign_bit) != 0;
}

__attribute__((always_inline)) inline bool any_lane(const lane_words& mask) {
    std::int64_t any = 0;
    for (std::size_t l = 0; l < lane_count; ++l) any |= mask[l];
    return any != 0;
}

// Bit l set when lane l carries no flag.
__attribute__((always_inline)) inline std::uint32_t lanes_without(const lane_bits& flags) {
    std::uint32_t clear = 0;
    for (std::size_t l = 0; l < lane_count; ++l)
        if ((flags[l] & sign_bit) == 0) clear |= 1u << l;
    return clear;
}

// N and BANDWIDTH fixed at compile time for the estimators' systems, or 0
// for sizes known only at run time.
template <std::size_t N, std::size_t BANDWIDTH>
__attribute__((always_inline)) inline std::uint32_t solve_lanes_banded(
    std::size_t n_runtime, std::size_t bandwidth_runtime, lanes* b, lanes* a,
    std::uint32_t finished_rows) {
    const std::size_t n = N ? N : n_runtime;
    const std::size_t bandwidth = N ? BANDWIDTH : bandwidth_runtime;

    lane_bits bad = {};
    for (std::size_t i = 0; i < n; ++i) bad |= flag_negative_zero(b[i]) | flag_not_finite(b[i]);

    // Row i holds its entries up to stored_to[i] and +0.0 in every lane from
    // there on, which is never read: a row is stored only as far as it has
    // been filled, and the caller need not clear what lies outside the band.
    std::size_t stored_to[max_size];
    bool holds_negative_zero[max_size];
    for (std::size_t i = 0; i < n; ++i) {
        stored_to[i] = i + bandwidth + 1 < n ? i + bandwidth + 1 : n;
        holds_negative_zero[i] = false;
    }
    const lanes zero = {};
    // Captures by reference: in the sized instantiations n is a constant,
    // which Clang would call an unused copy while GCC still asks for it.
    const auto entry = [&](std::size_t i, std::size_t c) -> const lanes& {
        return c < stored_to[i] ? a[i * n + c] : zero;
    };

    for (std::size_t j = 0; j < n; ++j) {
        // Rows past reach are +0.0 in column j: none had an entry there in
        // the band, and the elimination fills a row only to the right of a
        // column it already had.
        const std::size_t reach = j + bandwidth < n - 1 ? j + bandwidth : n - 1;

        // The first entry of largest magnitude from row j down.
        lanes p = a[j * n + j];
        lanes largest = magnitude(p);
        lane_words pivot_row_of = lane_words{} + static_cast<std::int64_t>(j);
        for (std::size_t k = j + 1; k <= reach; ++k) {
            const lanes candidate = a[k * n + j];
            const lanes size = magnitude(candidate);
            const lane_words greater = size > largest;
            p = greater ? candidate : p;
            largest = greater ? size : largest;
            pivot_row_of = greater ? lane_words{} + static_cast<std::int64_t>(k) : pivot_row_of;
        }
        bad |= flag_zero(p) | flag_not_finite(p);

        // Each lane exchanges row j with its own pivot row, if another.
        if (any_lane(pivot_row_of != static_cast<std::int64_t>(j))) {
            for (std::size_t k = j + 1; k <= reach; ++k) {
                const lane_words exchange = pivot_row_of == static_cast<std::int64_t>(k);
                if (!any_lane(exchange)) continue;
                const std::size_t to = stored_to[j] > stored_to[k] ? stored_to[j] : stored_to[k];
                for (std::size_t c = j; c < to; ++c) {
                    const lanes x = entry(j, c), y = entry(k, c);
                    a[j * n + c] = exchange ? y : x;
                    a[k * n + c] = exchange ? x : y;
                }
                const lanes x = b[j], y = b[k];
                b[j] = exchange ? y : x;
                b[k] = exchange ? x : y;
                stored_to[j] = stored_to[k] = to;
            }
        }

        // Normalise the pivot row.  Column j itself would become 1.0 and
        // is never read again.  A negative pivot turns the row's zeros into
        // -0.0, so the row is then divided to its end and marked.
        const std::size_t end = stored_to[j];
        lanes* pivot_row = a + j * n;
        lane_bits negative_zero = {};
        for (std::size_t c = j + 1; c < end; ++c) {
            pivot_row[c] = pivot_row[c] / p;
            bad |= flag_not_finite(pivot_row[c]);
            negative_zero |= flag_negative_zero(pivot_row[c]);
        }
        const bool negative = any_flag(bits_of(p));  // or -0.0 or NaN, lanes already bad
        if (negative) {
            for (std::size_t c = end; c < n; ++c) pivot_row[c] = zero / p;
            stored_to[j] = n;
        }
        holds_negative_zero[j] = negative || any_flag(negative_zero);
        b[j] = b[j] / p;
        bad |= flag_not_finite(b[j]);
        const lanes b_j = b[j];

        // Clears column j from row i (its entry there would become 0.0 and
        // is never read again).  Past the pivot row's end the updates change
        // nothing, except in a row that may hold -0.0, which is updated to
        // its end: -0.0 - f * 0 is +0.0 when f is negative.
        // Most updates span the band exactly: those keep the pivot row in
        // registers.
        constexpr std::size_t common_width = BANDWIDTH;
        lanes pivot_band[common_width ? common_width : 1];
        const bool common = common_width && end == j + 1 + common_width;
        if (common)
            for (std::size_t c = 0; c < common_width; ++c) pivot_band[c] = pivot_row[j + 1 + c];
        const auto clear = [&](std::size_t i) {
            lanes* row = a + i * n;
            const lanes f = entry(i, j);
            bad |= flag_not_finite(f);
            const std::size_t to = holds_negative_zero[i] ? n : end;
            std::size_t both_stored = stored_to[i] < stored_to[j] ? stored_to[i] : stored_to[j];
            if (both_stored > to) both_stored = to;
            std::size_t c = j + 1;
            if (common && both_stored >= end) {
                for (std::size_t k = 0; k < common_width; ++k)
                    row[c + k] = row[c + k] - f * pivot_band[k];
                c = end;
            }
            for (; c < both_stored; ++c) row[c] = row[c] - f * pivot_row[c];
            for (; c < to; ++c) row[c] = entry(i, c) - f * entry(j, c);
            if (stored_to[i] < to) stored_to[i] = to;
            b[i] = b[i] - f * b_j;
        };
        // The rows below within reach, then those above whose result is
        // wanted: the others above have taken their pivots and nothing
        // reads them again.
        for (std::size_t i = j + 1; i <= reach; ++i) clear(i);
        std::uint32_t above = j < 32 ? finished_rows & ((1u << j) - 1u) : finished_rows;
        while (above) {
            clear(static_cast<std::size_t>(__builtin_ctz(above)));
            above &= above - 1u;
        }
    }
    return lanes_without(bad);
}

QUILLMORPH_CLONES("avx512f", "avx2", "default")
std::uint32_t solve_block_lanes(lanes* b, lanes* a, std::uint32_t finished_rows) {
    return solve_lanes_banded<25, 6>(25, 6, b, a, finished_rows);
}

QUILLMORPH_CLONES("avx512f", "avx2", "default")
std::uint32_t solve_any_lanes(std::size_t n, std::size_t bandwidth, lanes* b, lanes* a,
                              std::uint32_t finished_rows) {
    return solve_lanes_banded<0, 0>(n, bandwidth, b, a, finished_rows);
}

// Dense: the reference's elimination in every lane at once, without
// leaving anything out, so any values are welcome.  A lane's pivot row r is
// its own; every step is computed in all lanes and kept only in the lanes
// (and rows) it belongs to.
template <std::size_t N>
__attribute__((always_inline)) inline void solve_dense(std::size_t n_runtime, lanes* b, lanes* a) {
    const std::size_t n = N ? N : n_runtime;
    const lanes zero = {};
    lane_words r = {};  // each lane's next pivot row
    for (std::size_t j = 0; j < n; ++j) {
        // The first entry of largest magnitude from row r down.
        lanes p = {};
        for (std::size_t k = 0; k < n; ++k)
            p = r == static_cast<std::int64_t>(k) ? a[k * n + j] : p;
        lanes largest = magnitude(p);
        lane_words h = r;
        for (std::size_t k = 1; k < n; ++k) {
            const lanes size = r < static_cast<std::int64_t>(k) ? magnitude(a[k * n + j]) : zero;
            const lane_words greater = size > largest;
            p = greater ? a[k * n + j] : p;
            largest = greater ? size : largest;
            h = greater ? lane_words{} + static_cast<std::int64_t>(k) : h;
        }
        // A column without a pivot leaves the lane as it is: its pivot row,
        // the row it exchanges with and the rows it updates become -1, -1
        // and none.
        lane_words pivot_at = p != 0.0 ? r : all_lanes;
        lane_words exchange_at = h == r ? all_lanes : h;
        exchange_at = p != 0.0 ? exchange_at : all_lanes;
        const lane_words one = lane_words{} + 1;
        lane_words updated_rows = (one << n) - 1 - (one << r);
        updated_rows = p != 0.0 ? updated_rows : no_lanes;

        // Exchange rows r and h, and divide the pivot row by p from column j on.
        lanes pivot_b = {}, displaced_b = {};
        for (std::size_t k = 0; k < n; ++k) {
            pivot_b = h == static_cast<std::int64_t>(k) ? b[k] : pivot_b;
            displaced_b = r == static_cast<std::int64_t>(k) ? b[k] : displaced_b;
        }
        pivot_b = pivot_b / p;
        lanes pivot_row[max_size];
        for (std::size_t c = 0; c < n; ++c) {
            lanes pivot = {}, displaced = {};
            for (std::size_t k = 0; k < n; ++k) {
                pivot = h == static_cast<std::int64_t>(k) ? a[k * n + c] : pivot;
                displaced = r == static_cast<std::int64_t>(k) ? a[k * n + c] : displaced;
            }
            if (c >= j) pivot = pivot / p;
            pivot_row[c] = pivot;
            for (std::size_t k = 0; k < n; ++k) {
                lanes& entry = a[k * n + c];
                entry = exchange_at == static_cast<std::int64_t>(k) ? displaced : entry;
                entry = pivot_at == static_cast<std::int64_t>(k) ? pivot : entry;
            }
        }
        for (std::size_t k = 0; k < n; ++k) {
            b[k] = exchange_at == static_cast<std::int64_t>(k) ? displaced_b : b[k];
            b[k] = pivot_at == static_cast<std::int64_t>(k) ? pivot_b : b[k];
        }

        // Clear column j from every other row.
        for (std::size_t i = 0; i < n; ++i) {
            const lane_words update = (updated_rows >> i) & 1;
            const lanes f = a[i * n + j];  // read before the row changes
            for (std::size_t c = j; c < n; ++c)
                a[i * n + c] = update != 0 ? a[i * n + c] - f * pivot_row[c] : a[i * n + c];
            b[i] = update != 0 ? b[i] - f * pivot_b : b[i];
        }
        r = p != 0.0 ? r + 1 : r;
    }
}

QUILLMORPH_CLONES("avx512f", "avx2", "default")
void solve_dense_4(lanes* b, lanes* a) { solve_dense<4>(4, b, a); }

QUILLMORPH_CLONES("avx512f", "avx2", "default")
void solve_dense_any(std::size_t n, lanes* b, lanes* a) { solve_dense<0>(n, b, a); }

// Larger systems one lane at a time with the reference itself.
void solve_each_lane(std::size_t n, lanes* b, lanes* a) {
    std::vector<double> one_a(n * n), one_b(n);
    for (std::size_t l = 0; l < lane_count; ++l) {
        for (std::size_t i = 0; i < n * n; ++i) one_a[i] = a[i][l];
        for (std::size_t i = 0; i < n; ++i) one_b[i] = b[i][l];
        solve_linear_system_reference(static_cast<int>(n), one_b.data(), one_a.data());
        for (std::size_t i = 0; i < n * n; ++i) a[i][l] = one_a[i];
        for (std::size_t i = 0; i < n; ++i) b[i][l] = one_b[i];
    }
}

}  // namespace

void solve_dense_lanes(int n, lane_vector* b, lane_vector* a) {
    if (n <= 0) return;
    const std::size_t size = static_cast<std::size_t>(n);
    if (size == 4)
        solve_dense_4(b, a);
    else if (size <= max_size)
        solve_dense_any(size, b, a);
    else
        solve_each_lane(size, b, a);
}

std::uint32_t solve_banded_lanes(int n, int bandwidth, lane_vector* b, lane_vector* a,
                                 std::uint32_t finished_rows) {
    if (n <= 0 || n > static_cast<int>(max_size) || bandwidth < 0) return 0;
    if (n == 25 && bandwidth == 6) return solve_block_lanes(b, a, finished_rows);
    const std::size_t size = static_cast<std::size_t>(n);
    const std::size_t band =
        static_cast<std::size_t>(bandwidth) < size ? static_cast<std::size_t>(bandwidth) : size - 1;
    return solve_any_lanes(size, band, b, a, finished_rows);
}
