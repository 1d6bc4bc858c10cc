// The fast solver against the reference, bit for bit, on every kind of
// system: those the estimators build, and singular, rank-deficient,
// tied-pivot, near-singular and non-finite ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "interp/estimator.h"
#include "interp/estimator_steps.h"
#include "linalg/solve.h"

namespace {

double uniform(std::mt19937_64& gen, double lo, double hi) {
    return lo + (hi - lo) * (static_cast<double>(gen() >> 11) * 0x1.0p-53);
}

// Every bit equal, except that any NaN equals any NaN: which NaN an
// operation on two NaNs returns depends on the order in which the compiler
// hands it its operands, and no result is ever taken from a NaN.
bool same_value_bits(double x, double y) {
    return (std::isnan(x) && std::isnan(y)) || std::memcmp(&x, &y, sizeof x) == 0;
}

// Solves copies with both solvers and compares both arrays bit for bit.
::testing::AssertionResult same_bits(int n, const double* b, const double* a) {
    const std::size_t size = static_cast<std::size_t>(n);
    std::vector<double> fast_a(a, a + size * size), fast_b(b, b + size);
    std::vector<double> ref_a = fast_a, ref_b = fast_b;
    solve_linear_system(n, fast_b.data(), fast_a.data());
    solve_linear_system_reference(n, ref_b.data(), ref_a.data());
    for (std::size_t i = 0; i < size * size; ++i)
        if (!same_value_bits(fast_a[i], ref_a[i]))
            return ::testing::AssertionFailure() << "matrix entry " << i << ": " << fast_a[i] << " vs " << ref_a[i];
    for (std::size_t i = 0; i < size; ++i)
        if (!same_value_bits(fast_b[i], ref_b[i]))
            return ::testing::AssertionFailure() << "right-hand side " << i << ": " << fast_b[i] << " vs " << ref_b[i];
    return ::testing::AssertionSuccess();
}

// An 11 x 11 window: a smooth surface, an edge, noise, or an exact ramp.
std::vector<double> random_window(std::mt19937_64& gen, int kind) {
    std::vector<double> window(121);
    const double fx = uniform(gen, -0.8, 0.8), fy = uniform(gen, -0.8, 0.8);
    const double base = uniform(gen, 0, 255), slope = uniform(gen, -12, 12);
    for (int r = 0; r < 11; ++r) {
        for (int c = 0; c < 11; ++c) {
            double v = 0.0;
            switch (kind) {
                case 0: v = 128 + 100 * std::sin(fx * c + fy * r); break;
                case 1: v = (fx * (c - 5) + fy * (r - 5) > 0) ? 200 : 30; break;
                case 2: v = uniform(gen, 0, 255); break;
                default: v = std::floor(base + slope * c / 3 + fy * 4 * r + 0.5); break;
            }
            window[r * 11 + c] = std::fmin(255.0, std::fmax(0.0, kind == 2 ? v : std::round(v)));
        }
    }
    return window;
}

TEST(SolveLinearSystemFast, MatchesReferenceOnEstimatorSystems) {
    std::mt19937_64 gen(31337);
    int blocks = 0;
    for (int trial = 0; trial < 12000; ++trial) {
        const Lattice& lattice = trial % 2 ? axial_lattice : diagonal_lattice;
        const std::vector<double> window = random_window(gen, trial % 4);
        assemble_model_system(lattice, window.data(), 11);
        ASSERT_TRUE(same_bits(model_order, model_vector, model_matrix)) << "model system " << trial;
        solve_linear_system_reference(model_order, model_vector, model_matrix);
        if (model_matrix[model_order * model_order - 1] < acceptance_threshold) continue;
        assemble_block_system(lattice, window.data(), 11);
        ASSERT_TRUE(same_bits(block_size, block_vector, block_matrix)) << "block system " << trial;
        ++blocks;
    }
    EXPECT_GT(blocks, 6000);
}

// Banded systems like the block systems, with random signs, so that negative
// pivots, row exchanges and cancellations all occur.
TEST(SolveLinearSystemFast, MatchesReferenceOnRandomBandedSystems) {
    std::mt19937_64 gen(4242);
    const int bands[] = {0, 1, 4, 5, 6};
    for (int trial = 0; trial < 20000; ++trial) {
        const int n = trial % 3 == 0 ? 4 : 25;
        std::vector<double> a(n * n, 0.0), b(n);
        for (int i = 0; i < n; ++i) {
            for (int band : bands) {
                if (i + band >= n) continue;
                const double v = trial % 5 == 0 ? std::round(uniform(gen, -3, 3)) : uniform(gen, -2, 2);
                a[i * n + i + band] = v;
                a[(i + band) * n + i] = (trial % 7 == 0) ? uniform(gen, -2, 2) : v;
            }
            b[i] = uniform(gen, -300, 300);
        }
        ASSERT_TRUE(same_bits(n, b.data(), a.data())) << "trial " << trial;
    }
}

TEST(SolveLinearSystemFast, MatchesReferenceOnSingularAndTiedSystems) {
    std::mt19937_64 gen(777);
    for (int trial = 0; trial < 6000; ++trial) {
        const int n = 1 + static_cast<int>(gen() % 25);
        const int rank = static_cast<int>(gen() % (n + 1));
        // A = B C with B n x rank and C rank x n: rank-deficient unless full.
        // Small integers make ties and exact cancellations common.
        std::vector<double> bm(n * rank), cm(rank * n), a(n * n, 0.0), b(n);
        for (double& v : bm) v = std::round(uniform(gen, -2, 2));
        for (double& v : cm) v = std::round(uniform(gen, -2, 2));
        for (int i = 0; i < n; ++i)
            for (int k = 0; k < n; ++k)
                for (int m = 0; m < rank; ++m) a[i * n + k] += bm[i * rank + m] * cm[m * n + k];
        if (trial % 3 == 1) a[gen() % (n * n)] += 1e-15;  // near-singular
        for (double& v : b) v = trial % 4 == 0 ? 0.0 : std::round(uniform(gen, -5, 5));
        ASSERT_TRUE(same_bits(n, b.data(), a.data())) << "trial " << trial << " n " << n << " rank " << rank;
    }
}

TEST(SolveLinearSystemFast, MatchesReferenceWithSpecialValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double specials[] = {-0.0, inf, -inf, nan, 4.9e-324, -1e-310, 1e300, -1e300, 1e-300};
    std::mt19937_64 gen(99);
    for (int trial = 0; trial < 4000; ++trial) {
        const int n = trial % 2 ? 25 : 4;
        std::vector<double> a(n * n, 0.0), b(n);
        for (int i = 0; i < n; ++i) {
            for (int k = i > 6 ? i - 6 : 0; k < n && k <= i + 6; ++k) a[i * n + k] = uniform(gen, -2, 2);
            b[i] = uniform(gen, -10, 10);
        }
        const int count = 1 + static_cast<int>(gen() % 3);
        for (int s = 0; s < count; ++s) {
            const double v = specials[gen() % (sizeof specials / sizeof specials[0])];
            if (gen() % 4 == 0)
                b[gen() % n] = v;
            else
                a[gen() % (n * n)] = v;
        }
        ASSERT_TRUE(same_bits(n, b.data(), a.data())) << "trial " << trial;
    }
}

// Rows and columns scaled by up to 1e+-300: quotients and products overflow
// to infinity or underflow to (signed) zero in the middle of the elimination.
TEST(SolveLinearSystemFast, MatchesReferenceWhenValuesOverflowOrUnderflow) {
    std::mt19937_64 gen(2718);
    for (int trial = 0; trial < 4000; ++trial) {
        const int n = trial % 2 ? 25 : 4;
        std::vector<double> a(n * n, 0.0), b(n), row_scale(n), col_scale(n);
        for (int i = 0; i < n; ++i) {
            row_scale[i] = std::pow(10.0, std::round(uniform(gen, -300, 300)));
            col_scale[i] = std::pow(10.0, std::round(uniform(gen, -20, 20)));
        }
        for (int i = 0; i < n; ++i) {
            for (int k = i > 6 ? i - 6 : 0; k < n && k <= i + 6; ++k)
                a[i * n + k] = uniform(gen, -2, 2) * row_scale[i] * col_scale[k];
            b[i] = uniform(gen, -10, 10) * row_scale[i];
        }
        ASSERT_TRUE(same_bits(n, b.data(), a.data())) << "trial " << trial;
    }
}

}  // namespace
