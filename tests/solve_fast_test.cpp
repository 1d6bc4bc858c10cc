// The fast solvers against the reference, bit for bit, on every kind of
// system: those the estimators build, and singular, rank-deficient,
// tied-pivot, near-singular and non-finite ones.  One table of systems,
// every solver: each system goes through every one-system solver that takes
// it (same_bits: the run-time shapes, the banded one with full and partial
// row masks, and the estimator's instantiations for its shapes), and
// through the batch solvers eight at a time (BandedBatches, DenseBatches:
// again run-time shapes and the estimator's instantiations).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "interp/estimator.h"
#include "interp/estimator_assembly.h"
#include "interp/estimator_steps.h"
#include "linalg/solve.h"
#include "interp/vector_kernels.h"
#include "linalg/solve_batch.h"
#include "test_support.h"

namespace quillmorph {

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

// Entries (i, k) of got and want, bit for bit, wherever wanted(i, k).
template <typename Wanted>
::testing::AssertionResult same_entries(const char* solver, int n, const std::vector<double>& got_a,
                                        const std::vector<double>& got_b,
                                        const std::vector<double>& want_a,
                                        const std::vector<double>& want_b, Wanted wanted) {
    const std::size_t size = static_cast<std::size_t>(n);
    for (std::size_t i = 0; i < size; ++i) {
        for (std::size_t k = 0; k < size; ++k)
            if (wanted(i, k) && !same_value_bits(got_a[i * size + k], want_a[i * size + k]))
                return ::testing::AssertionFailure()
                       << solver << ", matrix entry (" << i << ", " << k
                       << "): " << got_a[i * size + k] << " vs " << want_a[i * size + k];
        if (wanted(i, i) && !same_value_bits(got_b[i], want_b[i]))
            return ::testing::AssertionFailure() << solver << ", right-hand side " << i << ": "
                                                 << got_b[i] << " vs " << want_b[i];
    }
    return ::testing::AssertionSuccess();
}

// Half-width of the band that holds every non-zero entry.
int bandwidth_of(int n, const std::vector<double>& a) {
    int bandwidth = 0;
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < n; ++k)
            if (a[cell(i, k, n)] != 0.0) bandwidth = std::max(bandwidth, std::abs(i - k));
    return bandwidth;
}

// Finite and free of -0.0: the banded solvers' terms for the matrix.
bool plain(const std::vector<double>& a) {
    for (double v : a)
        if (!std::isfinite(v) || (v == 0.0 && std::signbit(v))) return false;
    return true;
}

// Solves copies with every one-system solver that takes the system and
// compares each with the reference bit for bit: the whole result of the
// solvers of any system, and of the banded ones (the run-time shape with the
// system's band, and the estimator's instantiation on systems of its shape)
// the finished rows and the last diagonal entry.
::testing::AssertionResult same_bits(int n, const double* b, const double* a,
                                     std::uint32_t finished_rows = ~0u) {
    const std::size_t size = static_cast<std::size_t>(n);
    const std::vector<double> in_a(a, a + size * size), in_b(b, b + size);
    std::vector<double> ref_a = in_a, ref_b = in_b;
    solve_linear_system_reference(n, ref_b.data(), ref_a.data());
    const auto solved = [&](const char* name, auto solve, auto wanted) {
        std::vector<double> got_a = in_a, got_b = in_b;
        solve(got_b.data(), got_a.data());
        return same_entries(name, n, got_a, got_b, ref_a, ref_b, wanted);
    };
    const auto every = [](std::size_t, std::size_t) { return true; };
    const auto finished = [&](std::size_t i, std::size_t k) {
        // (a row mask has 32 bits; larger systems are not in its terms)
        return (i < 32 && (finished_rows >> i & 1u) != 0) || (i + 1 == size && k + 1 == size);
    };
    ::testing::AssertionResult result = solved(
        "solve_linear_system", [n](double* x, double* m) { solve_linear_system(n, x, m); }, every);
    if (result && n == model_order)
        result = solved(
            "solve_model_system", [](double* x, double* m) { assembly::solve_model_system(x, m); },
            every);
    if (!result || !plain(in_a)) return result;
    const int bandwidth = bandwidth_of(n, in_a);
    result = solved(
        "solve_banded_system",
        [&](double* x, double* m) { solve_banded_system(n, bandwidth, x, m, finished_rows); },
        finished);
    if (result && n == block_size && bandwidth <= block_bandwidth)
        result = solved(
            "solve_block_system",
            [&](double* x, double* m) { assembly::solve_block_system(x, m, finished_rows); },
            finished);
    return result;
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
                case 0:
                    v = 128 + 100 * std::sin(fx * c + fy * r);
                    break;
                case 1:
                    v = (fx * (c - 5) + fy * (r - 5) > 0) ? 200 : 30;
                    break;
                case 2:
                    v = uniform(gen, 0, 255);
                    break;
                default:
                    v = std::floor(base + slope * c / 3 + fy * 4 * r + 0.5);
                    break;
            }
            window[cell(r, c, 11)] =
                std::fmin(255.0, std::fmax(0.0, kind == 2 ? v : std::round(v)));
        }
    }
    return window;
}

// System l of the vectors got against want, element i wherever wanted(i).
template <typename Wanted>
::testing::AssertionResult system_holds(const batch_entry* got, std::size_t l,
                                        const std::vector<double>& want, Wanted wanted,
                                        const char* what) {
    for (std::size_t i = 0; i < want.size(); ++i)
        if (wanted(i) && !same_value_bits(got[i][l], want[i]))
            return ::testing::AssertionFailure()
                   << what << " " << i << ": " << got[i][l] << " vs " << want[i];
    return ::testing::AssertionSuccess();
}

// The largest systems the batch tests hand over.
constexpr std::size_t max_unknowns = 36;

// Systems for the batch solver, solved eight at a time as they come (in
// submission order, so that every batch mixes kinds), each settled system
// checked against the reference: its last diagonal entry must be 1.0 and
// its finished rows of b the same bits.
struct BandedBatches {
    int n;
    int bandwidth;
    std::uint32_t finished_rows;
    std::vector<std::vector<double>> a, b;
    int solved = 0;
    int settled = 0;

    // Takes the system if it meets the batch solver's terms: finite, no
    // -0.0, zero outside the band.
    void add(const std::vector<double>& matrix, const std::vector<double>& rhs) {
        for (int i = 0; i < n; ++i)
            for (int k = 0; k < n; ++k) {
                const double v = matrix[cell(i, k, n)];
                if (!std::isfinite(v) || (v == 0.0 && std::signbit(v))) return;
                if (v != 0.0 && (i - k > bandwidth || k - i > bandwidth)) return;
            }
        a.push_back(matrix);
        b.push_back(rhs);
        if (a.size() == batch_size) solve_batch();
    }

    // Every solver works on a copy of the batch.
    static batch_entry work_a[max_unknowns * max_unknowns], work_b[max_unknowns];
    batch_entry* fresh_a(const batch_entry* from) {
        std::memcpy(work_a, from, static_cast<std::size_t>(n * n) * sizeof(batch_entry));
        return work_a;
    }
    batch_entry* fresh_b(const batch_entry* from) {
        std::memcpy(work_b, from, static_cast<std::size_t>(n) * sizeof(batch_entry));
        return work_b;
    }

    void check(std::uint32_t settled_systems, const char* solver) {
        const std::size_t size = static_cast<std::size_t>(n);
        for (std::size_t l = 0; l < a.size(); ++l) {
            ++solved;
            if (!(settled_systems >> l & 1u)) continue;
            ++settled;
            std::vector<double> ref_a = a[l], ref_b = b[l];
            solve_linear_system_reference(n, ref_b.data(), ref_a.data());
            EXPECT_EQ(ref_a[size * size - 1], 1.0)
                << solver << ": a settled system whose system is singular";
            const auto finished = [this](std::size_t i) { return (finished_rows >> i & 1u) != 0; };
            ASSERT_TRUE(system_holds(work_b, l, ref_b, finished, solver)) << "system " << solved;
        }
    }

    void solve_batch() {
        const std::size_t size = static_cast<std::size_t>(n);
        // Entries outside the band are never read: they hold NaN here.
        static batch_entry batch_a[max_unknowns * max_unknowns], batch_b[max_unknowns];
        for (std::size_t i = 0; i < size; ++i)
            for (std::size_t k = 0; k < size; ++k) {
                const std::size_t distance = i > k ? i - k : k - i;
                batch_a[i * size + k] =
                    batch_entry{} +
                    (distance > static_cast<std::size_t>(bandwidth) ? std::nan("") : 0.0);
            }
        for (std::size_t i = 0; i < size; ++i) batch_b[i] = batch_entry{};
        for (std::size_t l = 0; l < a.size(); ++l) {
            for (std::size_t i = 0; i < size * size; ++i)
                if (batch_a[i][l] == 0.0) batch_a[i][l] = a[l][i];
            for (std::size_t i = 0; i < size; ++i) batch_b[i][l] = b[l][i];
        }
        for (std::size_t l = a.size(); l < batch_size; ++l)  // empty systems: I x = 0
            for (std::size_t i = 0; i < size; ++i) batch_a[i * size + i][l] = 1.0;
        check(solve_banded_batch(n, bandwidth, fresh_b(batch_b), fresh_a(batch_a), finished_rows),
              "solve_banded_batch");
        if (n == block_size && bandwidth == block_bandwidth)
            check(vector_kernels()->solve_blocks(fresh_b(batch_b), fresh_a(batch_a), finished_rows),
                  "solve_blocks");
        a.clear();
        b.clear();
    }

    ~BandedBatches() {
        if (!a.empty()) solve_batch();
    }
};

batch_entry BandedBatches::work_a[max_unknowns * max_unknowns];
batch_entry BandedBatches::work_b[max_unknowns];

// Systems for the dense batch solver, solved eight at a time as they come;
// every system must end with the reference's matrix and right-hand side.
struct DenseBatches {
    int n;
    std::vector<std::vector<double>> a, b;

    void add(const std::vector<double>& matrix, const std::vector<double>& rhs) {
        a.push_back(matrix);
        b.push_back(rhs);
        if (a.size() == batch_size) solve_batch();
    }

    void check(const char* solver, const batch_entry* got_a, const batch_entry* got_b) {
        for (std::size_t l = 0; l < a.size(); ++l) {
            std::vector<double> ref_a = a[l], ref_b = b[l];
            solve_linear_system_reference(n, ref_b.data(), ref_a.data());
            const auto every = [](std::size_t) { return true; };
            ASSERT_TRUE(system_holds(got_a, l, ref_a, every, solver)) << "matrix, n " << n;
            ASSERT_TRUE(system_holds(got_b, l, ref_b, every, solver)) << "right-hand side, n " << n;
        }
    }

    void solve_batch() {
        const std::size_t size = static_cast<std::size_t>(n);
        static batch_entry batch_a[max_unknowns * max_unknowns], batch_b[max_unknowns];
        for (std::size_t l = 0; l < batch_size; ++l) {  // empty systems repeat the first
            const std::size_t from = l < a.size() ? l : 0;
            for (std::size_t i = 0; i < size * size; ++i) batch_a[i][l] = a[from][i];
            for (std::size_t i = 0; i < size; ++i) batch_b[i][l] = b[from][i];
        }
        static batch_entry work_a[max_unknowns * max_unknowns], work_b[max_unknowns];
        const auto fresh = [&] {
            std::memcpy(work_a, batch_a, size * size * sizeof(batch_entry));
            std::memcpy(work_b, batch_b, size * sizeof(batch_entry));
        };
        fresh();
        solve_dense_batch(n, work_b, work_a);
        check("solve_dense_batch", work_a, work_b);
        if (n == model_order) {
            fresh();
            vector_kernels()->solve_models(work_b, work_a);
            check("solve_models", work_a, work_b);
        }
        a.clear();
        b.clear();
    }

    ~DenseBatches() {
        if (!a.empty()) solve_batch();
    }
};

// The rows the estimators keep: the inner 3 x 3 of the block.
constexpr std::uint32_t inner_rows = (7u << 6) | (7u << 11) | (7u << 16);

// Every solver on the same systems: the one-system solver at once, and the
// batch solvers eight systems at a time, the banded one on systems of the
// block systems' size and the dense one on systems of the model systems'.
struct EverySolver {
    BandedBatches block;
    DenseBatches model;

    ::testing::AssertionResult check(int n, const std::vector<double>& a,
                                     const std::vector<double>& b) {
        if (n == block.n) block.add(a, b);
        if (n == model.n) model.add(a, b);
        return same_bits(n, b.data(), a.data(), block.finished_rows);
    }
};

EverySolver every_solver(std::uint32_t finished_rows) {
    return {{block_size, block_bandwidth, finished_rows, {}, {}}, {model_order, {}, {}}};
}

TEST(SolveLinearSystemFast, MatchesReferenceOnEstimatorSystems) {
    std::mt19937_64 gen(31337);
    int blocks = 0;
    EverySolver solvers = every_solver(inner_rows);
    Estimator& e = *new_estimators(1, 255);
    for (int trial = 0; trial < 12000; ++trial) {
        const Lattice& lattice = trial % 2 ? axial_lattice : diagonal_lattice;
        const std::vector<double> window = random_window(gen, trial % 4);
        assemble_model_system(e, lattice, window.data(), 11);
        ASSERT_TRUE(solvers.check(
            model_order,
            std::vector<double>(e.model_matrix, e.model_matrix + model_order * model_order),
            std::vector<double>(e.model_vector, e.model_vector + model_order)))
            << "model system " << trial;
        solve_linear_system_reference(model_order, e.model_vector, e.model_matrix);
        if (e.model_matrix[model_order * model_order - 1] < acceptance_threshold) continue;
        assemble_block_system(e, lattice, window.data(), 11);
        ASSERT_TRUE(solvers.check(
            block_size,
            std::vector<double>(e.block_matrix, e.block_matrix + block_size * block_size),
            std::vector<double>(e.block_vector, e.block_vector + block_size)))
            << "block system " << trial;
        ++blocks;
    }
    EXPECT_GT(blocks, 6000);
    solvers.block.solve_batch();
    EXPECT_GT(solvers.block.settled, solvers.block.solved * 99 / 100);
    free_estimators(&e);
}

// Banded systems like the block systems, with random signs, so that negative
// pivots, row exchanges and cancellations all occur.
TEST(SolveLinearSystemFast, MatchesReferenceOnRandomBandedSystems) {
    std::mt19937_64 gen(4242);
    const int bands[] = {0, 1, 4, 5, 6};
    EverySolver inner = every_solver(inner_rows), all_rows = every_solver(~0u);
    for (int trial = 0; trial < 20000; ++trial) {
        const int n = trial % 3 == 0 ? 4 : 25;
        std::vector<double> a(to_size(n * n), 0.0), b(to_size(n));
        for (int i = 0; i < n; ++i) {
            for (int band : bands) {
                if (i + band >= n) continue;
                // (+ 0.0 turns a rounded -0.0 into +0.0)
                const double v =
                    trial % 5 == 0 ? std::round(uniform(gen, -3, 3)) + 0.0 : uniform(gen, -2, 2);
                a[cell(i, i + band, n)] = v;
                a[cell(i + band, i, n)] = (trial % 7 == 0) ? uniform(gen, -2, 2) : v;
            }
            b[to_size(i)] = uniform(gen, -300, 300);
        }
        // Zero right-hand sides make zero solutions, whose signs tell
        // whether every -0.0 of the elimination was kept.
        if (trial % 10 == 3 || trial % 10 == 4) b.assign(b.size(), 0.0);
        if (trial % 10 == 7 || trial % 10 == 8)
            for (int i = 0; i < n; i += 2) b[to_size(i)] = 0.0;
        ASSERT_TRUE((trial % 2 ? inner : all_rows).check(n, a, b)) << "trial " << trial;
    }
    // Nearly every one of these systems meets negative pivots and row
    // exchanges; the batch solver must take them in its stride.
    for (EverySolver* solvers : {&inner, &all_rows}) {
        solvers->block.solve_batch();
        EXPECT_GT(solvers->block.settled, solvers->block.solved * 9 / 10);
    }
}

TEST(SolveLinearSystemFast, MatchesReferenceOnSingularAndTiedSystems) {
    std::mt19937_64 gen(777);
    // One set of batches per size; past 32 unknowns the dense batch
    // solver hands each system to the reference.
    std::vector<BandedBatches> banded;
    std::vector<DenseBatches> dense;
    banded.reserve(36);
    dense.reserve(36);
    for (int n = 1; n <= 36; ++n) {
        banded.push_back({n, n - 1, ~0u, {}, {}});
        dense.push_back({n, {}, {}});
    }
    for (int trial = 0; trial < 6000; ++trial) {
        const int n = 1 + static_cast<int>(gen() % (trial % 10 == 0 ? 36 : 25));
        const int rank = static_cast<int>(gen() % to_size(n + 1));
        // A = B C with B n x rank and C rank x n: rank-deficient unless full.
        // Small integers make ties and exact cancellations common.
        std::vector<double> bm(to_size(n * rank)), cm(to_size(rank * n)), a(to_size(n * n), 0.0),
            b(to_size(n));
        for (double& v : bm) v = std::round(uniform(gen, -2, 2));
        for (double& v : cm) v = std::round(uniform(gen, -2, 2));
        for (int i = 0; i < n; ++i)
            for (int k = 0; k < n; ++k)
                for (int m = 0; m < rank; ++m)
                    a[cell(i, k, n)] += bm[cell(i, m, rank)] * cm[cell(m, k, n)];
        if (trial % 3 == 1) a[gen() % to_size(n * n)] += 1e-15;  // near-singular
        for (double& v : b) v = trial % 4 == 0 ? 0.0 : std::round(uniform(gen, -5, 5)) + 0.0;
        if (n <= 32) banded[static_cast<std::size_t>(n - 1)].add(a, b);
        dense[static_cast<std::size_t>(n - 1)].add(a, b);
        ASSERT_TRUE(same_bits(n, b.data(), a.data(), trial % 3 == 2 ? 0x0f0f0f0u : ~0u))
            << "trial " << trial << " n " << n << " rank " << rank;
    }
}

TEST(SolveLinearSystemFast, MatchesReferenceWithSpecialValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double specials[] = {-0.0, inf, -inf, nan, 4.9e-324, -1e-310, 1e300, -1e300, 1e-300};
    std::mt19937_64 gen(99);
    EverySolver solvers = every_solver(inner_rows);
    for (int trial = 0; trial < 4000; ++trial) {
        const int n = trial % 2 ? 25 : 4;
        std::vector<double> a(to_size(n * n), 0.0), b(to_size(n));
        for (int i = 0; i < n; ++i) {
            for (int k = i > 6 ? i - 6 : 0; k < n && k <= i + 6; ++k)
                a[cell(i, k, n)] = uniform(gen, -2, 2);
            b[to_size(i)] = uniform(gen, -10, 10);
        }
        const int count = 1 + static_cast<int>(gen() % 3);
        for (int s = 0; s < count; ++s) {
            const double v = specials[gen() % (sizeof specials / sizeof specials[0])];
            if (gen() % 4 == 0)
                b[gen() % to_size(n)] = v;
            else
                a[gen() % to_size(n * n)] = v;
        }
        ASSERT_TRUE(solvers.check(n, a, b)) << "trial " << trial;
    }
}

// Rows and columns scaled by up to 1e+-300: quotients and products overflow
// to infinity or underflow to (signed) zero in the middle of the elimination.
TEST(SolveLinearSystemFast, MatchesReferenceWhenValuesOverflowOrUnderflow) {
    std::mt19937_64 gen(2718);
    EverySolver solvers = every_solver(~0u);
    for (int trial = 0; trial < 4000; ++trial) {
        const int n = trial % 2 ? 25 : 4;
        std::vector<double> a(to_size(n * n), 0.0), b(to_size(n)), row_scale(to_size(n)),
            col_scale(to_size(n));
        for (int i = 0; i < n; ++i) {
            row_scale[to_size(i)] = std::pow(10.0, std::round(uniform(gen, -300, 300)));
            col_scale[to_size(i)] = std::pow(10.0, std::round(uniform(gen, -20, 20)));
            if (trial % 4 == 1) {  // finite entries that overflow mid-way
                row_scale[to_size(i)] = std::pow(10.0, std::round(uniform(gen, -300, 290)));
                col_scale[to_size(i)] = std::pow(10.0, std::round(uniform(gen, -15, 15)));
            }
        }
        for (int i = 0; i < n; ++i) {
            for (int k = i > 6 ? i - 6 : 0; k < n && k <= i + 6; ++k)
                a[cell(i, k, n)] =
                    uniform(gen, -2, 2) * row_scale[to_size(i)] * col_scale[to_size(k)];
            b[to_size(i)] = uniform(gen, -10, 10) * row_scale[to_size(i)];
        }
        ASSERT_TRUE(solvers.check(n, a, b)) << "trial " << trial;
    }
}

// Small sparse systems of small integers: columns without pivots, exact
// cancellations and the signed zeros of negative pivots at every turn, in
// sizes and bands other than the block systems'.  Zero solutions keep the
// signs of the zeros they were built from.  Some entries are huge or tiny,
// so that values overflow and quotients underflow on the way, and some
// right-hand sides hold -0.0.
TEST(SolveBandedBatch, MatchesReferenceOnSparseIntegerSystems) {
    std::mt19937_64 gen(8086);
    int solved = 0, settled = 0;
    struct Shape {
        int n, bandwidth;
        std::uint32_t finished_rows;
    };
    // The block systems' shape has code of its own.
    std::vector<Shape> shapes = {{25, 6, ~0u}, {25, 6, inner_rows}};
    for (int n = 4; n <= 12; ++n)
        for (int bandwidth = 1; bandwidth <= 3; ++bandwidth)
            shapes.push_back({n, bandwidth, n % 2 ? ~0u : 0x5555u});
    for (const Shape& shape : shapes) {
        const int n = shape.n, bandwidth = shape.bandwidth;
        BandedBatches banded{n, bandwidth, shape.finished_rows, {}, {}};
        DenseBatches dense{n, {}, {}};
        for (int trial = 0; trial < 4000; ++trial) {
            std::vector<double> a(static_cast<std::size_t>(n * n), 0.0),
                b(static_cast<std::size_t>(n), 0.0);
            const double scales[] = {1.0, 1.0, 1e300, 1e-300, 1e160};
            const int kind = trial % 4;
            const auto small_integer = [&gen](int spread) {
                return static_cast<double>(
                    static_cast<int>(gen() % static_cast<unsigned>(2 * spread + 1)) - spread);
            };
            for (int i = 0; i < n; ++i)
                for (int k = i > bandwidth ? i - bandwidth : 0; k < n && k <= i + bandwidth; ++k)
                    if (gen() % 3 != 0)
                        a[cell(i, k, n)] = small_integer(2) * (kind == 0 ? scales[gen() % 5] : 1.0);
            for (double& v : b) {
                if (gen() % 2) v = small_integer(1) * (kind == 0 ? scales[gen() % 5] : 1.0);
                if (kind == 1 && gen() % 4 == 0) v = -0.0;
            }
            banded.add(a, b);
            if (n <= 12) dense.add(a, b);
        }
        banded.solve_batch();
        solved += banded.solved;
        settled += banded.settled;
    }
    EXPECT_GT(settled, solved / 5);  // most of the rest are singular
}

}  // namespace

}  // namespace quillmorph
