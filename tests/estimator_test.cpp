// Tests of the two estimators.  The assembled systems are checked against
// normal equations built here from the least-squares objectives, with the
// geometry written out again from its formulas (not taken from lattice.h);
// the behaviour is checked on flat, random and ramp windows.
#include "interp/estimator.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "interp/estimator_steps.h"
#include "interp/pixels.h"
#include "linalg/solve.h"
#include "test_geometry.h"
#include "test_support.h"

namespace quillmorph {

namespace {

const double not_a_number = std::numeric_limits<double>::quiet_NaN();

// The estimator the tests call, on 8-bit values; kept for the whole run.
Estimator& estimator = *new_estimators(1, max_8bit_sample);

// ---------------------------------------------------------------------------
// Geometry of each estimator, from its formulas.

Offset diagonal_training(int q, int s) { return {-3 + 2 * q, -3 + 2 * s}; }
Offset diagonal_block(int m, int n) { return {-4 + 2 * m, -4 + 2 * n}; }

Offset axial_training(int i, int j) { return {i - j, i + j - 3}; }
Offset axial_block(int i, int j) { return {i - j, i + j - 4}; }

struct Geometry {
    const char* name;
    const Lattice* lattice;
    double (*estimate)(Estimator& e, const double* window, int stride, int* accepted);
    Offset (*training)(int, int);   // 4 x 4, row-major
    Offset (*block)(int, int);      // 5 x 5, row-major
    Offset direction[model_order];  // a0..a3, at distance 1
    bool (*in_window)(int dr, int dc);
    int target_row, target_col;  // a target of this pass in the test grids
};

const Geometry geometries[] = {
    {"diagonal",
     &diagonal_lattice,
     estimate_diagonal,
     diagonal_training,
     diagonal_block,
     {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}},
     in_diagonal_window,
     11,
     13},
    {"axial",
     &axial_lattice,
     estimate_axial,
     axial_training,
     axial_block,
     {{0, -1}, {-1, 0}, {1, 0}, {0, 1}},
     in_axial_window,
     11,
     12},
};

Offset shifted(Offset at, Offset step, int times) {
    return {at.dr + times * step.dr, at.dc + times * step.dc};
}

// ---------------------------------------------------------------------------
// Grids: row-major doubles; a window is addressed by its target.

struct Grid {
    int rows;
    int cols;
    std::vector<double> cells;
};

Grid make_grid(int rows, int cols, double fill) {
    return {rows, cols, std::vector<double>(static_cast<std::size_t>(rows * cols), fill)};
}

double& cell(Grid& grid, int r, int c) { return grid.cells[quillmorph::cell(r, c, grid.cols)]; }

double value_at(const Grid& grid, int r, int c) {
    return grid.cells[quillmorph::cell(r, c, grid.cols)];
}

const double* window_of(const Grid& grid, int r, int c) {
    return grid.cells.data() + (r - window_radius) * grid.cols + (c - window_radius);
}

// Integer pixel values 0..255 from the generator's bits.
double random_pixel(std::mt19937_64& gen) { return static_cast<double>(gen() % 256); }

// The 36 window cells of target (r, c) get random pixels, the target
// `target_value`; nothing else changes.
void fill_window(Grid& grid, const Geometry& g, int r, int c, std::mt19937_64& gen,
                 double target_value) {
    for (int dr = -5; dr <= 5; ++dr)
        for (int dc = -5; dc <= 5; ++dc)
            if (g.in_window(dr, dc)) cell(grid, r + dr, c + dc) = random_pixel(gen);
    cell(grid, r, c) = target_value;
}

void copy_window(const Grid& from, int fr, int fc, Grid& to, int tr, int tc, const Geometry& g) {
    for (int dr = -5; dr <= 5; ++dr)
        for (int dc = -5; dc <= 5; ++dc)
            if (g.in_window(dr, dc) || (dr == 0 && dc == 0))
                cell(to, tr + dr, tc + dc) = value_at(from, fr + dr, fc + dc);
}

// Everything a call leaves for its caller, compared bit for bit.
struct Outcome {
    double value;
    int accepted;
    double model[model_order];
    double block[block_size];
};

Outcome run(const Geometry& g, const Grid& grid, int r, int c) {
    Outcome out{};
    out.value = g.estimate(estimator, window_of(grid, r, c), grid.cols, &out.accepted);
    std::memcpy(out.model, estimator.model_vector, sizeof out.model);
    std::memcpy(out.block, estimator.block_vector, sizeof out.block);
    return out;
}

bool same_bits(const Outcome& x, const Outcome& y) {
    return std::memcmp(&x.value, &y.value, sizeof x.value) == 0 && x.accepted == y.accepted &&
           std::memcmp(x.model, y.model, sizeof x.model) == 0 &&
           std::memcmp(x.block, y.block, sizeof x.block) == 0;
}

// ---------------------------------------------------------------------------
// Assembled systems.

// model_matrix and model_vector are DᵀD and Dᵀt for the objective
// sum_t (t - a0 q0 - a1 q1 - a2 q2 - a3 q3)^2, one row of D per training
// pixel holding its neighbours at twice the directions.  Summed here in the
// same training order, so the bits agree.
TEST(EstimatorSystems, ModelSystemIsTheNormalEquationsOfTheFit) {
    std::mt19937_64 gen(17);
    for (const Geometry& g : geometries) {
        Grid grid = make_grid(24, 26, 0.0);
        for (int trial = 0; trial < 20; ++trial) {
            SCOPED_TRACE(testing::Message() << g.name << ", trial " << trial);
            fill_window(grid, g, g.target_row, g.target_col, gen, 0.0);
            const double* window = window_of(grid, g.target_row, g.target_col);
            double d[training_count][model_order];
            double t[training_count];
            for (int q = 0; q < 4; ++q) {
                for (int s = 0; s < 4; ++s) {
                    const Offset at = g.training(q, s);
                    t[4 * q + s] = cell(grid, g.target_row + at.dr, g.target_col + at.dc);
                    for (int k = 0; k < model_order; ++k) {
                        const Offset n = shifted(at, g.direction[k], 2);
                        d[4 * q + s][k] = cell(grid, g.target_row + n.dr, g.target_col + n.dc);
                    }
                }
            }
            assemble_model_system(estimator, *g.lattice, window, grid.cols);
            for (int k = 0; k < model_order; ++k) {
                double v = 0.0;
                for (int row = 0; row < training_count; ++row) v += d[row][k] * t[row];
                EXPECT_EQ(estimator.model_vector[k], v) << "estimator.model_vector[" << k << "]";
                for (int l = 0; l < model_order; ++l) {
                    double m = 0.0;
                    for (int row = 0; row < training_count; ++row) m += d[row][k] * d[row][l];
                    EXPECT_EQ(estimator.model_matrix[k * model_order + l], m)
                        << "estimator.model_matrix[" << k << "][" << l << "]";
                }
            }
        }
    }
}

// Random coefficients in model_vector and a random window.
struct BlockCase {
    Grid grid;
    double a[model_order];
};

BlockCase make_block_case(const Geometry& g, std::mt19937_64& gen) {
    BlockCase bc{make_grid(24, 26, 0.0), {}};
    fill_window(bc.grid, g, g.target_row, g.target_col, gen, 0.0);
    for (double& a : bc.a) a = static_cast<double>(gen() >> 11) * 0x1.0p-52 - 1.0;
    for (int k = 0; k < model_order; ++k) estimator.model_vector[k] = bc.a[k];
    assemble_block_system(estimator, *g.lattice, window_of(bc.grid, g.target_row, g.target_col),
                          bc.grid.cols);
    return bc;
}

// block_matrix is I + CᵀC and block_vector p + Cᵀy for the objective
//   sum_i (x_i - prediction_i)^2 + sum_y (y - a0 x_j0 - a1 x_j1 - a2 x_j2 - a3 x_j3)^2,
// with C's columns found here by matching offsets.  CᵀC sums the same
// products in the same order (plus exact zeros), so it agrees bit for bit;
// p + Cᵀy adds p last instead of first, so it agrees within rounding.
TEST(EstimatorSystems, BlockSystemIsIdentityPlusCTransposeC) {
    std::mt19937_64 gen(29);
    for (const Geometry& g : geometries) {
        for (int trial = 0; trial < 20; ++trial) {
            SCOPED_TRACE(testing::Message() << g.name << ", trial " << trial);
            BlockCase bc = make_block_case(g, gen);
            const int r = g.target_row, c = g.target_col;

            Offset block[block_size];
            for (int i = 0; i < block_size; ++i) block[i] = g.block(i / 5, i % 5);
            double cm[training_count][block_size] = {};
            double y[training_count];
            for (int q = 0; q < 4; ++q) {
                for (int s = 0; s < 4; ++s) {
                    const Offset at = g.training(q, s);
                    y[4 * q + s] = cell(bc.grid, r + at.dr, c + at.dc);
                    for (int k = 0; k < model_order; ++k) {
                        const Offset n = shifted(at, g.direction[k], 1);
                        int column = -1;
                        for (int i = 0; i < block_size; ++i)
                            if (block[i].dr == n.dr && block[i].dc == n.dc) column = i;
                        ASSERT_GE(column, 0) << "training pixel " << 4 * q + s << ", a" << k;
                        cm[4 * q + s][column] = bc.a[k];
                    }
                }
            }

            for (int i = 0; i < block_size; ++i) {
                double s[model_order];
                for (int k = 0; k < model_order; ++k) {
                    const Offset n = shifted(block[i], g.direction[k], 1);
                    s[k] = cell(bc.grid, r + n.dr, c + n.dc);
                }
                const double p = bc.a[0] * s[0] + bc.a[1] * s[1] + bc.a[2] * s[2] + bc.a[3] * s[3];
                double cty = 0.0, magnitude = std::fabs(p);
                for (int row = 0; row < training_count; ++row) {
                    cty += cm[row][i] * y[row];
                    magnitude += std::fabs(cm[row][i] * y[row]);
                }
                EXPECT_NEAR(estimator.block_vector[i], p + cty, 4 * 5 * DBL_EPSILON * magnitude)
                    << "estimator.block_vector[" << i << "]";

                for (int j = 0; j < block_size; ++j) {
                    double ctc = 0.0;
                    for (int row = 0; row < training_count; ++row) ctc += cm[row][i] * cm[row][j];
                    if (i == j) ctc += 1.0;
                    EXPECT_EQ(estimator.block_matrix[i * block_size + j], ctc)
                        << "estimator.block_matrix[" << i << "][" << j << "]";
                }
            }
        }
    }
}

// The worked values: the target's row, the diagonal as a count of the
// training pixels touching each position, and block_vector at 0 and 12.  They
// are mathematical values summed in another order, hence the tolerances.
TEST(EstimatorSystems, TargetRowAndDiagonalMatchClosedForms) {
    std::mt19937_64 gen(31);
    for (const Geometry& g : geometries) {
        for (int trial = 0; trial < 10; ++trial) {
            SCOPED_TRACE(testing::Message() << g.name << ", trial " << trial);
            BlockCase bc = make_block_case(g, gen);
            const double* a = bc.a;
            auto s = [&](Offset at, Offset step) {
                return cell(bc.grid, g.target_row + at.dr + step.dr,
                            g.target_col + at.dc + step.dc);
            };
            const double tolerance = 8 * DBL_EPSILON;

            const double* row12 = estimator.block_matrix + 12 * block_size;
            const double sum_of_squares = a[0] * a[0] + a[1] * a[1] + a[2] * a[2] + a[3] * a[3];
            EXPECT_NEAR(row12[12], 1 + sum_of_squares, tolerance * (1 + sum_of_squares));
            const double pair_01_23 = a[0] * a[1] + a[2] * a[3];
            const double pair_02_13 = a[0] * a[2] + a[1] * a[3];
            const double bound = tolerance * sum_of_squares;
            EXPECT_NEAR(row12[11], pair_01_23, bound);
            EXPECT_NEAR(row12[13], pair_01_23, bound);
            EXPECT_NEAR(row12[7], pair_02_13, bound);
            EXPECT_NEAR(row12[17], pair_02_13, bound);
            EXPECT_EQ(row12[6], a[0] * a[3]);
            EXPECT_EQ(row12[18], a[0] * a[3]);
            EXPECT_EQ(row12[8], a[1] * a[2]);
            EXPECT_EQ(row12[16], a[1] * a[2]);
            for (int j : {0, 1, 2, 3, 4, 5, 9, 10, 14, 15, 19, 20, 21, 22, 23, 24})
                EXPECT_EQ(row12[j], 0.0) << "estimator.block_matrix[12][" << j << "]";

            for (int i = 0; i < 5; ++i) {
                for (int j = 0; j < 5; ++j) {
                    double expected = 1.0;
                    if (i <= 3 && j <= 3) expected += a[0] * a[0];
                    if (i <= 3 && j >= 1) expected += a[1] * a[1];
                    if (i >= 1 && j <= 3) expected += a[2] * a[2];
                    if (i >= 1 && j >= 1) expected += a[3] * a[3];
                    const int k = 5 * i + j;
                    EXPECT_NEAR(estimator.block_matrix[k * block_size + k], expected,
                                tolerance * expected)
                        << "estimator.block_matrix[" << k << "][" << k << "]";
                }
            }
            // The corners are touched by one training pixel each.
            EXPECT_EQ(estimator.block_matrix[0], 1 + a[0] * a[0]);
            EXPECT_EQ(estimator.block_matrix[4 * block_size + 4], 1 + a[1] * a[1]);
            EXPECT_EQ(estimator.block_matrix[20 * block_size + 20], 1 + a[2] * a[2]);
            EXPECT_EQ(estimator.block_matrix[24 * block_size + 24], 1 + a[3] * a[3]);

            const Offset* d = g.direction;
            const Offset centre = {0, 0};
            const double v12 = (a[0] + a[3]) * (s(centre, d[0]) + s(centre, d[3])) +
                               (a[1] + a[2]) * (s(centre, d[1]) + s(centre, d[2]));
            EXPECT_NEAR(estimator.block_vector[12], v12, 16 * DBL_EPSILON * 4 * 255);

            const Offset corner = g.block(0, 0);
            const double v0 = a[0] * s(corner, d[0]) + a[1] * s(corner, d[1]) +
                              a[2] * s(corner, d[2]) + (a[0] + a[3]) * s(corner, d[3]);
            EXPECT_NEAR(estimator.block_vector[0], v0, 16 * DBL_EPSILON * 4 * 255);
        }
    }
}

// ---------------------------------------------------------------------------
// Behaviour.

TEST(Estimator, FlatWindowIsRejectedBeforeTheBlockStage) {
    for (const Geometry& g : geometries) {
        for (double v : {0.0, 1.0, 100.0, 255.0}) {
            SCOPED_TRACE(testing::Message() << g.name << ", value " << v);
            Grid grid = make_grid(24, 26, v);
            for (double& x : estimator.block_vector) x = -7.0;
            int accepted = -1;
            const double value = g.estimate(estimator, window_of(grid, g.target_row, g.target_col),
                                            grid.cols, &accepted);
            EXPECT_EQ(accepted, 0);
            EXPECT_EQ(value, 0.0);
            EXPECT_EQ(estimator.model_matrix[model_order * model_order - 1], 0.0);
            for (int i = 0; i < block_size; ++i) EXPECT_EQ(estimator.block_vector[i], -7.0) << i;
        }
    }
}

// On random windows: a rejected call returns 0.0; an accepted one returns
// block_vector[12] when it lies in 0..255 (bounds included) and otherwise the
// target's current value, leaving the unclamped centre in block_vector.
TEST(Estimator, AcceptedValueIsTheCentreOrTheTargetsValue) {
    const double target_value = 77.25;
    std::mt19937_64 gen(41);
    for (const Geometry& g : geometries) {
        Grid grid = make_grid(24, 26, 0.0);
        int in_range = 0, fell_back = 0;
        for (int trial = 0; trial < 300; ++trial) {
            SCOPED_TRACE(testing::Message() << g.name << ", trial " << trial);
            fill_window(grid, g, g.target_row, g.target_col, gen, target_value);
            const Outcome out = run(g, grid, g.target_row, g.target_col);
            if (out.accepted == 0) {
                EXPECT_EQ(out.value, 0.0);
                continue;
            }
            ASSERT_EQ(out.accepted, 1);
            const double centre = out.block[block_centre];
            if (centre >= 0.0 && centre <= 255.0) {
                EXPECT_EQ(out.value, centre);
                ++in_range;
            } else {
                EXPECT_EQ(out.value, target_value);
                ++fell_back;
            }
        }
        EXPECT_GT(in_range, 0) << g.name;
        EXPECT_GT(fell_back, 0) << g.name;
    }
}

// The estimator reads the 36 window cells and the target and nothing else:
// in a grid of NaN holding only those 37 values, and in a grid of another
// width with other values everywhere else, a call gives the same bits.  The
// target's own value changes only the returned value of a fallback.
TEST(Estimator, ReadsOnlyTheWindowAndTheTarget) {
    std::mt19937_64 gen(43);
    for (const Geometry& g : geometries) {
        const int r = g.target_row, c = g.target_col;
        for (int trial = 0; trial < 30; ++trial) {
            SCOPED_TRACE(testing::Message() << g.name << ", trial " << trial);
            Grid sparse = make_grid(24, 26, not_a_number);
            fill_window(sparse, g, r, c, gen, 31.5);
            const Outcome reference = run(g, sparse, r, c);
            EXPECT_TRUE(std::isfinite(reference.value));

            Grid wide = make_grid(30, 41, 0.0);
            for (double& x : wide.cells) x = random_pixel(gen);
            copy_window(sparse, r, c, wide, 13, 17, g);
            EXPECT_TRUE(same_bits(run(g, wide, 13, 17), reference));

            cell(sparse, r, c) = 200.5;
            const Outcome moved = run(g, sparse, r, c);
            EXPECT_EQ(moved.accepted, reference.accepted);
            EXPECT_EQ(std::memcmp(moved.block, reference.block, sizeof moved.block), 0);
            const bool fell_back = reference.accepted == 1 && reference.value == 31.5;
            EXPECT_EQ(moved.value, fell_back ? 200.5 : reference.value);
        }
    }
}

// A first-family target (odd row, even column) and a second-family target
// (even row, odd column) given the same 37 values give the same results.
TEST(Estimator, AxialFamiliesGiveTheSameResults) {
    const Geometry& g = geometries[1];
    std::mt19937_64 gen(47);
    for (int trial = 0; trial < 30; ++trial) {
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        Grid first = make_grid(24, 26, 0.0);
        fill_window(first, g, 11, 12, gen, 64.0);
        Grid second = make_grid(24, 26, 0.0);
        copy_window(first, 11, 12, second, 12, 13, g);
        EXPECT_TRUE(same_bits(run(g, first, 11, 12), run(g, second, 12, 13)));
    }
}

// ---------------------------------------------------------------------------
// Fits singular up to rounding, and wild blocks.

TEST(ModelFitAccepted, NeedsAPivotInEveryColumnAndCoefficientsUpToEight) {
    const double inf = std::numeric_limits<double>::infinity();
    const double above = std::nextafter(8.0, inf);
    struct Row {
        double last_diagonal;
        double a[model_order];
        bool accepted;
    };
    const Row rows[] = {
        {1.0, {0.25, 0.25, 0.25, 0.25}, true},
        {0.001, {0.25, 0.25, 0.25, 0.25}, true},
        {0.0, {0.25, 0.25, 0.25, 0.25}, false},
        {-0.0, {0.0, 0.0, 0.0, 0.0}, false},
        {1.0, {8.0, -8.0, 8.0, -8.0}, true},
        {1.0, {std::nextafter(8.0, 0.0), 0.0, 0.0, 0.0}, true},
        {1.0, {above, 0.0, 0.0, 0.0}, false},
        {1.0, {0.0, 0.0, 0.0, -above}, false},
        {1.0, {-331.0, 328.0, 1.0, 1.0}, false},
        {1.0, {0.5, not_a_number, 0.5, 0.5}, false},
        {1.0, {0.5, 0.5, inf, 0.5}, false},
        {1.0, {0.5, 0.5, 0.5, -inf}, false},
    };
    for (std::size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i)
        EXPECT_EQ(model_fit_accepted(rows[i].last_diagonal, rows[i].a), rows[i].accepted)
            << "row " << i;
}

TEST(BlockIsPlausible, BoundsAreInclusiveScaleWithTheMaxvalAndOnlyTheInnerNineCount) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        int element;
        double value;
        double maxval;
        bool plausible;
    };
    const Row rows[] = {
        {12, -255.0, 255, true},
        {12, 510.0, 255, true},
        {6, std::nextafter(-255.0, -inf), 255, false},
        {18, std::nextafter(510.0, inf), 255, false},
        {7, not_a_number, 255, false},
        {8, inf, 255, false},
        {11, -inf, 255, false},
        {13, 1e7, 255, false},
        {16, -1e7, 255, false},
        {17, 511.0, 255, false},
        {0, 1e12, 255, true},
        {4, not_a_number, 255, true},
        {24, -inf, 255, true},
        {9, 1e7, 255, true},
        {12, -65535.0, 65535, true},
        {12, 131070.0, 65535, true},
        {17, 131071.0, 65535, false},
        {6, std::nextafter(-65535.0, -inf), 65535, false},
        {13, 2.0, 1, true},
        {13, -1.0, 1, true},
        {13, 2.5, 1, false},
        {8, 8191.0, 4095, false},
    };
    for (const Geometry& g : geometries) {
        for (std::size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
            double block[block_size];
            for (double& x : block) x = rows[i].maxval / 2;
            block[rows[i].element] = rows[i].value;
            EXPECT_EQ(block_is_plausible(*g.lattice, block, rows[i].maxval), rows[i].plausible)
                << g.name << ", row " << i;
        }
    }
}

// Nearly planar windows give fits singular up to rounding: an 8-bit ramp,
// and two ramps meeting at a straight edge, where every training pixel's
// neighbours are linear in it.  Such fits come out with coefficients in the
// hundreds, and their blocks would paint streaks.  The diagonal estimator
// sees the ramps on the LR samples; the axial one sees them laid along its
// turned lattice.
Grid ramp_grid(const Geometry& g, int side, double (*ramp)(int x, int y)) {
    const bool diagonal = g.lattice == &diagonal_lattice;
    Grid grid = make_grid(side, side, 128.0);
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            if (diagonal && r % 2 == 0 && c % 2 == 0) cell(grid, r, c) = ramp(c / 2, r / 2);
            if (!diagonal && (r + c) % 2 == 0) cell(grid, r, c) = ramp((r + c) / 2, (c - r) / 2);
        }
    }
    return grid;
}

double plane(int x, int y) { return std::floor(20 + 1.5 * x + 0.7 * y + 0.5); }

// A vertical edge between two ramps, at x = 12 (the lattice coordinates of
// the axial grid run from -side / 2, so there it is at a quarter of the way).
double two_ramps(int x, int y) {
    return x < 12 ? std::floor(40 + 1.2 * x + 0.5 * y + 0.5)
                  : std::floor(200 - 0.8 * x + 0.3 * y + 0.5);
}

bool is_target(const Geometry& g, int r, int c) {
    return g.lattice == &diagonal_lattice ? r % 2 == 1 && c % 2 == 1 : (r + c) % 2 == 1;
}

bool inner_elements_plausible(const double* block) {
    for (int e : inner_block_elements)
        if (!(block[e] >= -255.0 && block[e] <= 510.0)) return false;
    return true;
}

// Walks every target of each grid, solving each window also step by step:
// the model fit with the reference elimination, its acceptance tests (the
// last diagonal, then |a_k| <= 8), the block system, and the plausibility
// of its inner elements.  The estimator must accept exactly what that
// accepts, with the same bits in the elements a pass keeps, and the grids
// must hold fits that only the coefficient test rejects.
TEST(EstimatorOnRamp, RejectsExactlyWhatTheStepByStepTestsReject) {
    const int side = 128;
    for (const Geometry& g : geometries) {
        int accepted_count = 0;
        for (double (*ramp)(int, int) : {plane, two_ramps}) {
            const Grid grid = ramp_grid(g, side, ramp);
            int regular_but_large = 0;
            for (int r = 5; r <= side - 6; ++r) {
                for (int c = 5; c <= side - 6; ++c) {
                    if (!is_target(g, r, c)) continue;
                    const double* window = window_of(grid, r, c);

                    bool direct_accepts = false;
                    double direct_block[block_size];
                    assemble_model_system(estimator, *g.lattice, window, grid.cols);
                    solve_linear_system_reference(model_order, estimator.model_vector,
                                                  estimator.model_matrix);
                    bool fit_ok = estimator.model_matrix[model_order * model_order - 1] >= 0.001;
                    if (fit_ok)
                        for (double a : estimator.model_vector)
                            if (!(std::fabs(a) <= 8.0)) fit_ok = false;
                    if (!fit_ok && estimator.model_matrix[model_order * model_order - 1] == 1.0)
                        ++regular_but_large;
                    if (fit_ok) {
                        assemble_block_system(estimator, *g.lattice, window, grid.cols);
                        solve_linear_system_reference(block_size, estimator.block_vector,
                                                      estimator.block_matrix);
                        if (estimator.block_matrix[block_size * block_size - 1] >= 0.001) {
                            std::memcpy(direct_block, estimator.block_vector, sizeof direct_block);
                            direct_accepts = inner_elements_plausible(direct_block);
                        }
                    }

                    const Outcome out = run(g, grid, r, c);
                    ASSERT_EQ(out.accepted, direct_accepts ? 1 : 0)
                        << g.name << " at " << r << ", " << c;
                    if (!out.accepted) {
                        EXPECT_EQ(out.value, 0.0);
                        continue;
                    }
                    ++accepted_count;
                    for (int e : inner_block_elements)
                        ASSERT_EQ(std::memcmp(&out.block[e], &direct_block[e], sizeof(double)), 0)
                            << g.name << " at " << r << ", " << c << ", element " << e;
                    EXPECT_TRUE(std::isfinite(out.value));
                }
            }
            EXPECT_GT(regular_but_large, 50) << g.name;
        }
        EXPECT_GT(accepted_count, 1000) << g.name;
    }
}

// A batch gives each target what a call of its own gives: the same
// acceptance and the same bits in the nine elements a pass keeps.  Whole rows
// go in at once, so that batches are full, partial, and mix accepted,
// rejected and wild targets (the ramp has many); the textured grid mixes
// flat patches, edges and noise.
TEST(EstimateBatch, GivesEachTargetWhatItsOwnCallGives) {
    const int side = 96;
    std::mt19937_64 gen(55);
    for (const Geometry& g : geometries) {
        Grid textured = make_grid(side, side, 0.0);
        for (int r = 0; r < side; ++r)
            for (int c = 0; c < side; ++c) {
                const bool flat = (r / 16 + c / 16) % 3 == 0;
                const double wave = 128 + 90 * std::sin(0.4 * c + 0.25 * r);
                cell(textured, r, c) =
                    flat ? 77.0 : (r + 2 * c < 150 ? std::round(wave) : random_pixel(gen));
            }
        const Grid ramp = ramp_grid(g, side, two_ramps);
        int accepted_count = 0, rejected_count = 0;
        const Grid* grids[] = {&textured, &ramp};
        for (const Grid* grid : grids) {
            for (int r = 5; r <= side - 6; ++r) {
                std::vector<const double*> windows;
                std::vector<int> columns;
                for (int c = 5; c <= side - 6; ++c) {
                    if (!is_target(g, r, c)) continue;
                    windows.push_back(window_of(*grid, r, c));
                    columns.push_back(c);
                }
                const std::size_t count = windows.size();
                std::vector<int> accepted(count);
                std::vector<double> blocks(count * block_size);
                estimate_batch(estimator, *g.lattice, windows.data(), static_cast<int>(count),
                               grid->cols, accepted.data(),
                               reinterpret_cast<double(*)[block_size]>(blocks.data()));
                for (std::size_t t = 0; t < count; ++t) {
                    const Outcome own = run(g, *grid, r, columns[t]);
                    ASSERT_EQ(accepted[t], own.accepted)
                        << g.name << " at " << r << ", " << columns[t];
                    if (!own.accepted) {
                        ++rejected_count;
                        continue;
                    }
                    ++accepted_count;
                    const double* block = &blocks[t * block_size];
                    for (int e : inner_block_elements)
                        ASSERT_EQ(std::memcmp(&block[e], &own.block[e], sizeof(double)), 0)
                            << g.name << " at " << r << ", " << columns[t] << ", element " << e;
                }
            }
        }
        EXPECT_GT(accepted_count, 500) << g.name;
        EXPECT_GT(rejected_count, 300) << g.name;
    }
}

}  // namespace

}  // namespace quillmorph
