// The one-system solvers for shapes known only at run time.  The steps are
// in linalg/elimination.h, the shortcuts in linalg/banded.h; callers that
// know their shapes at compile time instantiate those templates themselves
// (interp/estimator.cpp).
#include "linalg/solve.h"

#include <cstddef>
#include <cstdint>

#include "linalg/banded.h"
#include "linalg/elimination.h"

namespace quillmorph {

namespace {

void solve_banded_any(std::size_t n, std::size_t bandwidth, double* b, double* a,
                      std::uint32_t finished_rows) {
    banded::solve_banded_sized<0, 0>(n, bandwidth, b, a, finished_rows);
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
    elimination::eliminate<double, 0>(static_cast<std::size_t>(n), b, a);
}

void solve_banded_system(int n, int bandwidth, double* b, double* a, std::uint32_t finished_rows) {
    if (n <= 0) return;
    const std::size_t size = static_cast<std::size_t>(n);
    if (size > elimination::max_masked_rows || bandwidth < 0) {
        solve_linear_system_reference(n, b, a);
        return;
    }
    const std::size_t band = static_cast<std::size_t>(bandwidth);
    solve_banded_any(size, band < size ? band : size - 1, b, a, finished_rows);
}

void solve_linear_system(int n, double* b, double* a) {
    if (n <= 0) return;
    const std::size_t size = static_cast<std::size_t>(n);
    if (size > elimination::max_masked_rows || !banded::all_plain(a, size * size)) {
        solve_linear_system_reference(n, b, a);
        return;
    }
    solve_banded_any(size, bandwidth_of(a, size), b, a, ~0u);
}

}  // namespace quillmorph
