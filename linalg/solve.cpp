// Gauss-Jordan elimination with partial pivoting, in place.
//
// The reference carries out every operation of the elimination.  The banded
// solver leaves out those that cannot change a bit of a result it promises:
//
// - x - f * 0 and x - 0 * y are x again, for finite f and y and any x that is
//   not -0.0 (for x = -0.0 the result may be +0.0).  So while no -0.0 and no
//   infinity or NaN is about, rows whose factor is zero and columns beyond
//   the pivot row's last non-zero entry can be left alone, and a fixed-width
//   update may run past that entry.
// - Rows below the band's reach hold zeros in the current column: the
//   elimination fills a row only to the right of a column it already had.
// - After a row has taken its pivot it only receives updates; nothing reads
//   it again.  A row whose result is not wanted can stop there.
//
// The solver watches the two ways a -0.0 can appear (a negative pivot turns
// the zeros of its row into -0.0 when they are divided; a quotient can
// underflow to -0.0) and the finiteness of every factor and pivot row it
// uses.  The moment one of them fails it finishes with the reference's full
// steps from the same state, which is still the reference's state in every
// row it keeps.
#include "linalg/solve.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "linalg/solve_steps.h"
#include "linalg/vector_dispatch.h"

using namespace solve_steps;

namespace {

constexpr std::size_t max_banded_size = 32;  // the row mask has 32 bits
// Row updates cover whole groups of eight columns, each a few vector
// operations.  Pivot rows of the block systems reach 7 columns from the
// pivot, or up to 13 after a row exchange.
constexpr std::size_t group_width = 8;
constexpr std::size_t max_groups = 2;

constexpr double largest_finite = std::numeric_limits<double>::max();
constexpr std::uint64_t sign_bit = 0x8000000000000000ULL;
constexpr std::uint64_t exponent_bits = 0x7ff0000000000000ULL;

typedef double eight_doubles __attribute__((vector_size(8 * sizeof(double))));
typedef std::uint64_t four_words __attribute__((vector_size(4 * sizeof(std::uint64_t))));

// True when no value is infinite, NaN or -0.0: bit tests on four values at a
// time, without branches.
__attribute__((always_inline)) inline bool all_plain(const double* v, std::size_t count) {
    const four_words sign = {sign_bit, sign_bit, sign_bit, sign_bit};
    const four_words exponent = {exponent_bits, exponent_bits, exponent_bits, exponent_bits};
    four_words bad = {};
    const std::size_t chunks = count / 4;
    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
        four_words bits;
        std::memcpy(&bits, v + 4 * chunk, sizeof bits);
        bad |= (bits == sign) | ((bits & exponent) == exponent);
    }
    std::size_t k = 4 * chunks;
    std::uint64_t any = bad[0] | bad[1] | bad[2] | bad[3];
    for (; k < count; ++k) {
        std::uint64_t bits;
        std::memcpy(&bits, v + k, sizeof bits);
        any |= static_cast<std::uint64_t>(bits == sign_bit) |
               static_cast<std::uint64_t>((bits & exponent_bits) == exponent_bits);
    }
    return any == 0;
}

// row[k] -= f * pivot_row[k] and row[k] /= p for eight consecutive k, as a
// few vector operations.  Vector lanes carry out the very same
// multiplication and subtraction (or division) on each element, each rounded
// on its own, so the bits are those of the scalar loop.

__attribute__((always_inline)) inline void subtract_multiple_group(double* row,
                                                                   const double* pivot_row,
                                                                   double f) {
    eight_doubles x, y;
    std::memcpy(&x, row, sizeof x);
    std::memcpy(&y, pivot_row, sizeof y);
    x = x - f * y;
    std::memcpy(row, &x, sizeof x);
}

__attribute__((always_inline)) inline void divide_group(double* row, double p) {
    eight_doubles x;
    std::memcpy(&x, row, sizeof x);
    x = x / p;
    std::memcpy(row, &x, sizeof x);
}

// The columns a row update covers: it must reach from column j to end (the
// pivot row is +0.0 from there on).  Where that span fits one or two groups
// of eight the update covers the whole groups, shifted left near the end of
// the row (the pivot row is +0.0 left of j as well); otherwise exactly the
// span (groups == 0).
struct Span {
    std::size_t from;
    std::size_t to;
    std::size_t groups;
};

__attribute__((always_inline)) inline Span update_span(std::size_t n, std::size_t j,
                                                       std::size_t end) {
    const std::size_t groups = (end - j + group_width - 1) / group_width;
    if (groups > max_groups || groups * group_width > n) return {j, end, 0};
    const std::size_t width = groups * group_width;
    const std::size_t from = j + width <= n ? j : n - width;
    return {from, from + width, groups};
}

constexpr std::size_t full_width_update = SIZE_MAX;

// One column done the reference's way, after the pivot row has been
// normalised up to column end: the rest of its normalisation, then every
// other row over the full width.
__attribute__((always_inline)) inline void finish_column_fully(double* a, double* b, std::size_t n,
                                                               std::size_t j, std::size_t r,
                                                               std::size_t end, double p) {
    double* pivot_row = a + r * n;
    normalise(pivot_row, end, n, p);
    for (std::size_t i = 0; i < n; ++i) {
        if (i == r) continue;
        const double f = a[i * n + j];
        subtract_multiple(a + i * n, pivot_row, f, j, n);
        b[i] = b[i] - f * b[r];
    }
}

// Clears column j of one row from the pivot row: the row and its right-hand
// side lose f times the pivot row's, f being the row's entry in column j.  A
// factor of zero changes nothing.  A factor that is not finite gets the
// reference's full-width update (f * 0 is then NaN, not 0).  Returns the end
// of the columns the update reached (0 when it changed nothing), or
// full_width_update.
__attribute__((always_inline)) inline std::size_t clear_row(double* row, double* b_i,
                                                            const double* pivot_row, double b_r,
                                                            std::size_t n, std::size_t j,
                                                            Span span) {
    const double f = row[j];
    if (f == 0.0) return 0;
    if (!(std::fabs(f) <= largest_finite)) {
        subtract_multiple(row, pivot_row, f, j, n);
        *b_i = *b_i - f * b_r;
        return full_width_update;
    }
    if (span.groups == 0) {
        subtract_multiple(row, pivot_row, f, span.from, span.to);
    } else {
        subtract_multiple_group(row + span.from, pivot_row + span.from, f);
        if (span.groups == 2)
            subtract_multiple_group(row + span.from + group_width,
                                    pivot_row + span.from + group_width, f);
    }
    *b_i = *b_i - f * b_r;
    return span.to;
}

// N and BANDWIDTH fixed at compile time for the estimators' systems, or 0
// for sizes known only at run time.  Inlined into each processor-specific
// clone below, so that it is compiled for that processor.
template <std::size_t N, std::size_t BANDWIDTH>
__attribute__((always_inline)) inline void solve_banded(std::size_t n_runtime,
                                                        std::size_t bandwidth_runtime, double* b,
                                                        double* a, std::uint32_t finished_rows) {
    const std::size_t n = N ? N : n_runtime;
    const std::size_t bandwidth = N ? BANDWIDTH : bandwidth_runtime;
    std::size_t r = 0;
    std::size_t j = 0;

    // 1. Only plain values (finite, no -0.0) may take the short cuts; the
    //    caller vouches for the matrix.
    if (all_plain(b, n)) {
        // end_of[i]: row i is +0.0 from this column on.
        std::size_t end_of[max_banded_size];
        for (std::size_t i = 0; i < n; ++i)
            end_of[i] = i + bandwidth + 1 < n ? i + bandwidth + 1 : n;

        for (; j < n && r < n; ++j) {
            // Rows past reach have no entry at or left of column j: none had
            // one in the band, and the elimination fills a row only to the
            // right of a column it already had.
            const std::size_t reach = j + bandwidth < n - 1 ? j + bandwidth : n - 1;
            if (r > reach) break;  // not for a banded matrix; the full steps stay exact

            double p = a[r * n + j];
            double largest = std::fabs(p);
            std::size_t h = r;
            for (std::size_t k = r + 1; k <= reach; ++k) {
                const double candidate = a[k * n + j];
                if (std::fabs(candidate) > largest) {
                    p = candidate;
                    largest = std::fabs(candidate);
                    h = k;
                }
            }
            if (p == 0.0) continue;
            if (p < 0.0) break;  // its row's zeros would turn into -0.0
            if (h != r) {
                exchange_rows(a, b, n, r, h);
                const std::size_t held = end_of[r];
                end_of[r] = end_of[h];
                end_of[h] = held;
            }

            double* pivot_row = a + r * n;
            const Span span = update_span(n, j, end_of[r]);
            if (span.groups == 0) {
                normalise(pivot_row, span.from, span.to, p);
            } else {
                divide_group(pivot_row + span.from, p);
                if (span.groups == 2) divide_group(pivot_row + span.from + group_width, p);
            }
            b[r] = b[r] / p;
            if (!all_plain(pivot_row + span.from, span.to - span.from) || !all_plain(b + r, 1)) {
                // A quotient underflowed to -0.0 or overflowed.
                finish_column_fully(a, b, n, j, r, span.to, p);
                ++r;
                ++j;
                break;
            }

            // Rows below, within reach, first: the next column's pivot
            // search waits for them, while nothing waits for the rows above.
            bool exact_from_here = false;
            // A row gains non-zero entries only where the pivot row has them:
            // the padding of a group update changes nothing.
            for (std::size_t i = r + 1; i <= reach; ++i) {
                std::size_t row_end = clear_row(a + i * n, b + i, pivot_row, b[r], n, j, span);
                if (row_end == full_width_update) {
                    exact_from_here = true;
                    row_end = n;
                } else if (row_end != 0) {
                    row_end = end_of[r];
                }
                if (end_of[i] < row_end) end_of[i] = row_end;
            }
            // Rows above: only those whose result is wanted.
            std::uint32_t above = r < 32 ? finished_rows & ((1u << r) - 1u) : finished_rows;
            while (above) {
                const std::size_t i = static_cast<std::size_t>(__builtin_ctz(above));
                above &= above - 1u;
                exact_from_here |=
                    clear_row(a + i * n, b + i, pivot_row, b[r], n, j, span) == full_width_update;
            }
            ++r;
            if (exact_from_here) {
                ++j;
                break;
            }
        }
    }

    // 2. Whatever is left, with every operation.
    for (; j < n && r < n; ++j) r = eliminate_column(a, b, n, j, r);
}

QUILLMORPH_CLONES("avx512f", "avx2", "default")
void solve_block_sized(double* b, double* a, std::uint32_t finished_rows) {
    solve_banded<25, 6>(25, 6, b, a, finished_rows);
}

// The model systems are 4 x 4 and dense: nothing to leave out.  The
// reference's steps on whole rows held in vector registers, each row
// operation computed on all four columns and then kept only from the pivot
// column on, so that the columns to its left stay exactly as they were.
typedef double four_doubles __attribute__((vector_size(4 * sizeof(double))));
typedef std::int64_t four_lanes __attribute__((vector_size(4 * sizeof(std::int64_t))));

QUILLMORPH_CLONES("avx2", "default")
void solve_model_sized(double* b, double* a) {
    constexpr std::size_t n = 4;
    four_doubles row[n];
    for (std::size_t i = 0; i < n; ++i) std::memcpy(&row[i], a + i * n, sizeof row[i]);
    const four_lanes column = {0, 1, 2, 3};

    std::size_t r = 0;
    for (std::size_t j = 0; j < n && r < n; ++j) {
        double p = row[r][j];
        std::size_t h = r;
        for (std::size_t k = r + 1; k < n; ++k) {
            if (std::fabs(row[k][j]) > std::fabs(p)) {
                p = row[k][j];
                h = k;
            }
        }
        if (p == 0.0) continue;
        if (h != r) {
            std::swap(row[r], row[h]);
            std::swap(b[r], b[h]);
        }
        const four_lanes from_pivot = column >= static_cast<std::int64_t>(j);
        row[r] = from_pivot ? row[r] / p : row[r];
        b[r] = b[r] / p;
        for (std::size_t i = 0; i < n; ++i) {
            if (i == r) continue;
            const double f = row[i][j];
            row[i] = from_pivot ? row[i] - f * row[r] : row[i];
            b[i] = b[i] - f * b[r];
        }
        ++r;
    }
    for (std::size_t i = 0; i < n; ++i) std::memcpy(a + i * n, &row[i], sizeof row[i]);
}

// Half-width of the band that holds every non-zero entry.
std::size_t bandwidth_of(const double* a, std::size_t n) {
    std::size_t bandwidth = 0;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < n; ++k)
            if (a[i * n + k] != 0.0) {
                const std::size_t distance = i > k ? i - k : k - i;
                if (distance > bandwidth) bandwidth = distance;
            }
    return bandwidth;
}

}  // namespace

void solve_linear_system_reference(int n, double* b, double* a) {
    if (n <= 0) return;
    const std::size_t size = static_cast<std::size_t>(n);
    for (std::size_t j = 0, r = 0; j < size && r < size; ++j)
        r = eliminate_column(a, b, size, j, r);
}

void solve_banded_system(int n, int bandwidth, double* b, double* a, std::uint32_t finished_rows) {
    if (n <= 0) return;
    const std::size_t size = static_cast<std::size_t>(n);
    if (size > max_banded_size || bandwidth < 0) {
        solve_linear_system_reference(n, b, a);
    } else if (size == 25 && bandwidth == 6) {
        solve_block_sized(b, a, finished_rows);
    } else {
        const std::size_t band = static_cast<std::size_t>(bandwidth) < size
                                     ? static_cast<std::size_t>(bandwidth)
                                     : size - 1;
        solve_banded<0, 0>(size, band, b, a, finished_rows);
    }
}

void solve_linear_system(int n, double* b, double* a) {
    if (n == 4) {
        solve_model_sized(b, a);
        return;
    }
    if (n <= 0 || n > static_cast<int>(max_banded_size)) {
        solve_linear_system_reference(n, b, a);
        return;
    }
    const std::size_t size = static_cast<std::size_t>(n);
    if (!all_plain(a, size * size)) {
        solve_linear_system_reference(n, b, a);
        return;
    }
    const std::size_t bandwidth = bandwidth_of(a, size);
    if (size == 25 && bandwidth <= 6)
        solve_block_sized(b, a, ~0u);
    else
        solve_banded<0, 0>(size, bandwidth, b, a, ~0u);
}
