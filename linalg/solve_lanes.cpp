// The lane solvers for shapes known only at run time.  The steps are in
// linalg/elimination.h, the shortcuts in linalg/banded.h; callers that know
// their shapes at compile time instantiate those templates themselves
// (interp/estimate_batch.cpp).
#include "linalg/solve_lanes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "linalg/banded.h"
#include "linalg/elimination.h"
#include "linalg/solve.h"
#include "linalg/vector_dispatch.h"

namespace quillmorph {

namespace {

QUILLMORPH_CLONES("avx512f", "avx2", "default")
std::uint32_t solve_banded_any(std::size_t n, std::size_t bandwidth, lane_vector* b, lane_vector* a,
                               std::uint32_t finished_rows) {
    return banded::solve_banded_lanes_sized<0, 0>(n, bandwidth, b, a, finished_rows);
}

QUILLMORPH_CLONES("avx512f", "avx2", "default")
void solve_dense_any(std::size_t n, lane_vector* b, lane_vector* a) {
    elimination::eliminate<lane_vector, 0>(n, b, a);
}

// Larger systems one lane at a time with the reference itself.
void solve_each_lane(std::size_t n, lane_vector* b, lane_vector* a) {
    std::vector<double> one_a(n * n), one_b(n);
    for (std::size_t l = 0; l < solve_lanes; ++l) {
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
    if (size <= elimination::max_masked_rows)
        solve_dense_any(size, b, a);
    else
        solve_each_lane(size, b, a);
}

std::uint32_t solve_banded_lanes(int n, int bandwidth, lane_vector* b, lane_vector* a,
                                 std::uint32_t finished_rows) {
    if (n <= 0 || n > static_cast<int>(elimination::max_masked_rows) || bandwidth < 0) return 0;
    const std::size_t size = static_cast<std::size_t>(n);
    const std::size_t band = static_cast<std::size_t>(bandwidth);
    return solve_banded_any(size, band < size ? band : size - 1, b, a, finished_rows);
}

}  // namespace quillmorph
