// Tests of the in-place Gauss-Jordan solver: worked examples whose every
// intermediate value is exact (so the expected arrays are exact), the zero
// signals the estimators rely on, and random regular systems checked by their
// residual.  Every test runs against every implementation that takes any
// system: the reference, the one-system solver, the banded solver with the
// widest band and the dense batch solver; tests/solve_fast_test.cpp holds
// them and the rest to the reference, bit for bit.
#include "linalg/solve.h"

#include <gtest/gtest.h>

#include "interp/vector_kernels.h"
#include "linalg/solve_batch.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace quillmorph {

namespace {

using Solver = void (*)(int n, double* b, double* a);

// The banded solver with the widest band and every row finished.
void solve_as_banded(int n, double* b, double* a) { solve_banded_system(n, n - 1, b, a, ~0u); }

// The dense batch solver with the system in every system; every system must end
// with the same bits, and system 0 is handed back.
void solve_in_batch(int n, double* b, double* a) {
    if (n <= 0) return;
    const std::size_t size = static_cast<std::size_t>(n);
    constexpr std::size_t max_size = 32;
    ASSERT_LE(size, max_size);
    static batch_entry batch_a[max_size * max_size], batch_b[max_size];
    for (std::size_t l = 0; l < batch_size; ++l) {  // (0.0 + -0.0 would be +0.0)
        for (std::size_t i = 0; i < size * size; ++i) batch_a[i][l] = a[i];
        for (std::size_t i = 0; i < size; ++i) batch_b[i][l] = b[i];
    }
    solve_dense_batch(n, batch_b, batch_a);
    const auto same_systems = [](const batch_entry& v) {
        const double first = v[0];
        for (std::size_t l = 1; l < batch_size; ++l) {
            const double other = v[l];
            if (std::memcmp(&other, &first, sizeof first) != 0 &&
                !(std::isnan(other) && std::isnan(first)))
                return false;
        }
        return true;
    };
    for (std::size_t i = 0; i < size * size; ++i) {
        EXPECT_TRUE(same_systems(batch_a[i])) << "matrix entry " << i;
        a[i] = batch_a[i][0];
    }
    for (std::size_t i = 0; i < size; ++i) {
        EXPECT_TRUE(same_systems(batch_b[i])) << "right-hand side " << i;
        b[i] = batch_b[i][0];
    }
}

class SolveLinearSystem : public testing::TestWithParam<Solver> {
   protected:
    void solve(int n, double* b, double* a) const { GetParam()(n, b, a); }
};

INSTANTIATE_TEST_SUITE_P(EveryImplementation, SolveLinearSystem,
                         testing::Values(solve_linear_system, solve_linear_system_reference,
                                         solve_as_banded, solve_in_batch),
                         [](const testing::TestParamInfo<Solver>& param) {
                             return param.param == solve_linear_system ? "Fast"
                                    : param.param == solve_as_banded   ? "Banded"
                                    : param.param == solve_in_batch    ? "DenseBatch"
                                                                       : "Reference";
                         });

struct KnownAnswer {
    const char* what;
    int n;
    std::vector<double> a;           // on entry, row-major
    std::vector<double> b;           // on entry
    std::vector<double> expected_a;  // reduced matrix
    std::vector<double> expected_b;  // solution or reduced right-hand side
};

const std::vector<KnownAnswer>& known_answers() {
    static const std::vector<KnownAnswer> cases = {
        {"n = 1, regular", 1, {4.0}, {3.0}, {1.0}, {0.75}},
        {"n = 1, negative pivot keeps its sign", 1, {-8.0}, {2.0}, {1.0}, {-0.25}},
        // 5 * (1 / 3) would round to one ulp below 5 / 3.
        {"n = 1, normalisation divides", 1, {3.0}, {5.0}, {1.0}, {5.0 / 3.0}},
        {"n = 1, smallest subnormal is still a pivot", 1, {4.9e-324}, {0.0}, {1.0}, {0.0}},
        {"n = 1, zero pivot changes nothing", 1, {0.0}, {7.0}, {0.0}, {7.0}},
        {"all-zero matrix changes nothing",
         3,
         {0, 0, 0, 0, 0, 0, 0, 0, 0},
         {1, 2, 3},
         {0, 0, 0, 0, 0, 0, 0, 0, 0},
         {1, 2, 3}},
        // Column 0 is (1, -3, 3, 2): the pivot is -3, the upper of the two
        // entries of magnitude 3, and rows 0 and 1 swap.  Every row is a
        // multiple of (1, 2, -1, 0.5), so the rest of the matrix clears and
        // b shows which row became the pivot row and where row 0 went.
        {"tie-break takes the uppermost largest magnitude",
         4,
         {1, 2, -1, 0.5, -3, -6, 3, -1.5, 3, 6, -3, 1.5, 2, 4, -2, 1},
         {10, 6, 9, 4},
         {1, 2, -1, 0.5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {-2, 12, 15, 8}},
        // Pivots 2 (row 1) and -2 (row 2); column 2 finds only zero.
        {"singular 3 x 3",
         3,
         {1, 2, 3, 2, 4, 6, 1, 0, 1},
         {1, 2, 3},
         {1, 0, 1, 0, 1, 1, 0, 0, 0},
         {3, -1, 0}},
        {"zero last column",
         3,
         {2, 1, 0, 1, 1, 0, 4, 2, 0},
         {1, 2, 3},
         {1, 0, 0, 0, 1, 0, 0, 0, 0},
         {-0.5, 2.5, -0.5}},
        // Zeros on the diagonal force both pivots below it: the matrix still
        // ends as the exact identity and b as the exact solution (3, 2, -2).
        {"zero diagonal needs row exchanges",
         3,
         {0, 2, 1, 0, 1, 3, 2, 1, 1},
         {2, -4, 6},
         {1, 0, 0, 0, 1, 0, 0, 0, 1},
         {3, 2, -2}},
    };
    return cases;
}

TEST_P(SolveLinearSystem, KnownAnswersAreExact) {
    const std::vector<KnownAnswer>& cases = known_answers();
    for (std::size_t row = 0; row < cases.size(); ++row) {
        const KnownAnswer& c = cases[row];
        SCOPED_TRACE(testing::Message() << "row " << row << ": " << c.what);
        std::vector<double> a = c.a;
        std::vector<double> b = c.b;
        solve(c.n, b.data(), a.data());
        for (std::size_t i = 0; i < a.size(); ++i)
            EXPECT_EQ(a[i], c.expected_a[i]) << "matrix entry " << i;
        for (std::size_t i = 0; i < b.size(); ++i)
            EXPECT_EQ(b[i], c.expected_b[i]) << "right-hand side entry " << i;
    }
}

TEST_P(SolveLinearSystem, NonPositiveSizeTouchesNothing) {
    for (int n : {0, -1, -25}) {
        double a[4] = {1.0, 2.0, 3.0, 4.0};
        double b[2] = {5.0, 6.0};
        solve(n, b, a);
        EXPECT_EQ(a[0], 1.0) << "n = " << n;
        EXPECT_EQ(a[3], 4.0) << "n = " << n;
        EXPECT_EQ(b[0], 5.0) << "n = " << n;
        EXPECT_EQ(b[1], 6.0) << "n = " << n;
    }
}

// A pivot of -0.0 is a zero pivot; the skipped column can then leave -0.0 on
// the last diagonal, which the callers' "< 0.001" test must treat as zero.
TEST_P(SolveLinearSystem, NegativeZeroPivotCountsAsZero) {
    double a1[1] = {-0.0};
    double b1[1] = {5.0};
    solve(1, b1, a1);
    EXPECT_TRUE(std::signbit(a1[0]));
    EXPECT_EQ(b1[0], 5.0);

    double a2[4] = {1.0, 0.0, 0.0, -0.0};
    double b2[2] = {2.0, 3.0};
    solve(2, b2, a2);
    EXPECT_EQ(a2[0], 1.0);
    EXPECT_EQ(b2[1], 3.0);
    EXPECT_TRUE(std::signbit(a2[3]));
    EXPECT_TRUE(a2[3] < 0.001);
}

// Doubles uniform in [-1, 1), built from the generator's bits so that the
// sequence does not depend on the standard library's distributions.
double uniform_symmetric(std::mt19937_64& gen) {
    return static_cast<double>(gen() >> 11) * 0x1.0p-52 - 1.0;
}

TEST_P(SolveLinearSystem, RandomRegularSystemsHaveSmallResiduals) {
    std::mt19937_64 gen(20240611);
    for (int n = 1; n <= 25; ++n) {
        for (int trial = 0; trial < 4; ++trial) {
            SCOPED_TRACE(testing::Message() << "n = " << n << ", trial " << trial);
            const std::size_t size = static_cast<std::size_t>(n);
            std::vector<double> a(size * size);
            std::vector<double> b(size);
            for (double& v : a) v = uniform_symmetric(gen);
            for (double& v : b) v = uniform_symmetric(gen);
            std::vector<double> reduced = a;
            std::vector<double> x = b;
            solve(n, x.data(), reduced.data());

            for (std::size_t i = 0; i < size; ++i)
                for (std::size_t k = 0; k < size; ++k)
                    ASSERT_EQ(reduced[i * size + k], i == k ? 1.0 : 0.0)
                        << "entry (" << i << ", " << k << ")";

            // Normwise backward error |b - A x| <= c n eps (|A| |x| + |b|),
            // with the residual accumulated in long double.
            long double norm_a = 0.0L, norm_x = 0.0L, norm_b = 0.0L, residual = 0.0L;
            for (std::size_t i = 0; i < size; ++i) {
                long double row_sum = 0.0L, r = b[i];
                for (std::size_t k = 0; k < size; ++k) {
                    row_sum += std::fabs(static_cast<long double>(a[i * size + k]));
                    r -= static_cast<long double>(a[i * size + k]) * x[k];
                }
                norm_a = std::fmax(norm_a, row_sum);
                norm_x = std::fmax(norm_x, std::fabs(static_cast<long double>(x[i])));
                norm_b = std::fmax(norm_b, std::fabs(static_cast<long double>(b[i])));
                residual = std::fmax(residual, std::fabs(r));
            }
            const long double bound = 16.0L * n * DBL_EPSILON * (norm_a * norm_x + norm_b);
            EXPECT_LE(residual, bound);
        }
    }
}

}  // namespace

}  // namespace quillmorph
