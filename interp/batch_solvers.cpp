// The batch solvers for shapes known only at run time: the vector kernels'
// solve_dense and solve_banded, with the shapes they do not take handled
// here.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "interp/vector_kernels.h"
#include "linalg/solve.h"
#include "linalg/solve_batch.h"

namespace quillmorph {

namespace {

// Larger systems one at a time with the reference itself.
void solve_each_system(std::size_t n, batch_entry* b, batch_entry* a) {
    std::vector<double> one_a(n * n), one_b(n);
    for (std::size_t l = 0; l < batch_size; ++l) {
        for (std::size_t i = 0; i < n * n; ++i) one_a[i] = a[i][l];
        for (std::size_t i = 0; i < n; ++i) one_b[i] = b[i][l];
        solve_linear_system_reference(static_cast<int>(n), one_b.data(), one_a.data());
        for (std::size_t i = 0; i < n * n; ++i) a[i][l] = one_a[i];
        for (std::size_t i = 0; i < n; ++i) b[i][l] = one_b[i];
    }
}

}  // namespace

void solve_dense_batch(int n, batch_entry* b, batch_entry* a) {
    if (n <= 0) return;
    const std::size_t size = static_cast<std::size_t>(n);
    if (size <= max_batch_unknowns)
        vector_kernels()->solve_dense(size, b, a);
    else
        solve_each_system(size, b, a);
}

std::uint32_t solve_banded_batch(int n, int bandwidth, batch_entry* b, batch_entry* a,
                                 std::uint32_t finished_rows) {
    if (n <= 0 || n > static_cast<int>(max_batch_unknowns) || bandwidth < 0) return 0;
    const std::size_t size = static_cast<std::size_t>(n);
    const std::size_t band = static_cast<std::size_t>(bandwidth);
    return vector_kernels()->solve_banded(size, band < size ? band : size - 1, b, a, finished_rows);
}

}  // namespace quillmorph
