// The refinement passes, one target at a time, as the algorithm reads.
#include "reference/reference_refine.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "linalg/solve.h"

namespace quillmorph {

namespace reference {

namespace {

// The rules, written out here on purpose: this file is the definition that
// the engine is checked against, not a second user of the engine's tables.
const double acceptance_threshold = 0.001;  // last diagonal after a solve
const double coefficient_limit = 8.0;       // largest |a_k| of a usable fit
const int inner_elements[9] = {6, 7, 8, 11, 12, 13, 16, 17, 18};

struct Step {
    int dr, dc;
};

// The model's four neighbours at distance 1: NW, NE, SW, SE on the diagonal
// lattice; left, up, down, right on the axial one.
const Step diagonal_directions[4] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}};
const Step axial_directions[4] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};

// Training pixel (q, s), q, s = 0..3, and block position (m, n), m, n = 0..4.
Step training_pixel(Lattice lattice, int q, int s) {
    if (lattice == Lattice::diagonal) return {-3 + 2 * q, -3 + 2 * s};
    return {q - s, q + s - 3};
}

Step block_position(Lattice lattice, int m, int n) {
    if (lattice == Lattice::diagonal) return {-4 + 2 * m, -4 + 2 * n};
    return {m - n, m + n - 4};
}

const Step* directions(Lattice lattice) {
    return lattice == Lattice::diagonal ? diagonal_directions : axial_directions;
}

double at(const double* grid, int w2, int r, int c) {
    return grid[static_cast<std::ptrdiff_t>(r) * w2 + c];
}

double& at(double* grid, int w2, int r, int c) {
    return grid[static_cast<std::ptrdiff_t>(r) * w2 + c];
}

}  // namespace

double estimate(Lattice lattice, const double* grid, int w2, int r, int c, Rules rules,
                int* accepted, double block[25]) {
    const Step* d = directions(lattice);
    const auto sample = [&](int dr, int dc) { return at(grid, w2, r + dr, c + dc); };
    *accepted = 0;

    // Stage 1: the model fit, its normal equations summed in training order.
    double model_vector[4] = {};
    double model_matrix[16] = {};
    for (int q = 0; q < 4; ++q)
        for (int s = 0; s < 4; ++s) {
            const Step t = training_pixel(lattice, q, s);
            const double pixel = sample(t.dr, t.dc);
            double n[4];
            for (int k = 0; k < 4; ++k) n[k] = sample(t.dr + 2 * d[k].dr, t.dc + 2 * d[k].dc);
            for (int k = 0; k < 4; ++k) {
                model_vector[k] += n[k] * pixel;
                for (int l = 0; l < 4; ++l) model_matrix[4 * k + l] += n[k] * n[l];
            }
        }
    solve_linear_system_reference(4, model_vector, model_matrix);
    if (model_matrix[15] < acceptance_threshold) return 0.0;
    const double* a = model_vector;
    if (rules.limit_model_coefficients)
        for (int k = 0; k < 4; ++k)
            if (!(std::fabs(a[k]) <= coefficient_limit)) return 0.0;

    // Stage 2: the block system (I + CᵀC) x = p + Cᵀy.
    double block_vector[25];
    double block_matrix[625] = {};
    for (int m = 0; m < 5; ++m)
        for (int n = 0; n < 5; ++n) {
            const Step b = block_position(lattice, m, n);
            block_vector[5 * m + n] = a[0] * sample(b.dr + d[0].dr, b.dc + d[0].dc) +
                                      a[1] * sample(b.dr + d[1].dr, b.dc + d[1].dc) +
                                      a[2] * sample(b.dr + d[2].dr, b.dc + d[2].dc) +
                                      a[3] * sample(b.dr + d[3].dr, b.dc + d[3].dc);
        }
    for (int q = 0; q < 4; ++q)
        for (int s = 0; s < 4; ++s) {
            const Step t = training_pixel(lattice, q, s);
            const double pixel = sample(t.dr, t.dc);
            const int u = 5 * q + s;
            const int j[4] = {u, u + 1, u + 5, u + 6};
            for (int k = 0; k < 4; ++k) {
                block_vector[j[k]] += a[k] * pixel;
                for (int l = 0; l < 4; ++l) block_matrix[25 * j[k] + j[l]] += a[k] * a[l];
            }
        }
    for (int i = 0; i < 25; ++i) block_matrix[26 * i] += 1.0;
    solve_linear_system_reference(25, block_vector, block_matrix);
    if (block_matrix[624] < acceptance_threshold) return 0.0;
    // A usable block's nine inner elements lie within -M..2M.
    const double block_min = -rules.maxval, block_max = 2.0 * rules.maxval;
    for (int e : inner_elements)
        if (!std::isfinite(block_vector[e]) || block_vector[e] < block_min ||
            block_vector[e] > block_max)
            return 0.0;

    *accepted = 1;
    for (int i = 0; i < 25; ++i) block[i] = block_vector[i];
    const double centre = block_vector[12];
    return centre < 0.0 || centre > rules.maxval ? sample(0, 0) : centre;
}

namespace {

// A whole-image block store: 25 doubles per slot, NaN until gathered, so
// that a slot read before it is filled shows in the result.
std::vector<double> new_store(std::size_t slots) {
    return std::vector<double>(25 * slots, std::numeric_limits<double>::quiet_NaN());
}

void gather(Lattice lattice, const double* grid, int w2, int r, int c, double* slot) {
    for (int m = 0; m < 5; ++m)
        for (int n = 0; n < 5; ++n) {
            const Step b = block_position(lattice, m, n);
            slot[5 * m + n] = at(grid, w2, r + b.dr, c + b.dc);
        }
}

// Estimates the target (r, c); an accepted one takes its value and its slot
// its block.
void visit(Lattice lattice, double* grid, int w2, int r, int c, Rules rules, double* slot) {
    int accepted = 0;
    double block[25];
    const double value = estimate(lattice, grid, w2, r, c, rules, &accepted, block);
    if (!accepted) return;
    at(grid, w2, r, c) = value;
    for (int i = 0; i < 25; ++i) slot[i] = block[i];
}

void diagonal_pass(double* grid, int w, int h, Rules rules) {
    const int w2 = 2 * w, h2 = 2 * h;
    std::vector<double> store =
        new_store(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    const auto slot = [&](int r, int c) {
        return &store[25 * (static_cast<std::size_t>((r - 1) / 2) * static_cast<std::size_t>(w) +
                            static_cast<std::size_t>((c - 1) / 2))];
    };
    for (int br = 2; br <= h - 3; ++br)
        for (int bc = 2; bc <= w - 3; ++bc)
            gather(Lattice::diagonal, grid, w2, 2 * br + 1, 2 * bc + 1,
                   slot(2 * br + 1, 2 * bc + 1));
    for (int r = 5; r <= h2 - 7; r += 2)
        for (int c = 5; c <= w2 - 7; c += 2)
            visit(Lattice::diagonal, grid, w2, r, c, rules, slot(r, c));
    for (int r = 7; r <= h2 - 9; r += 2)
        for (int c = 7; c <= w2 - 9; c += 2)
            at(grid, w2, r, c) =
                (slot(r, c + 2)[11] + slot(r, c)[12] + slot(r, c - 2)[13] + slot(r - 2, c)[17] +
                 slot(r - 2, c - 2)[18] + slot(r - 2, c + 2)[16] + slot(r + 2, c)[7] +
                 slot(r + 2, c - 2)[8] + slot(r + 2, c + 2)[6]) /
                9.0;
}

void axial_pass(double* grid, int w, int h, Rules rules) {
    const int w2 = 2 * w, h2 = 2 * h;
    std::vector<double> store =
        new_store(static_cast<std::size_t>(w2) * static_cast<std::size_t>(h2));
    const auto slot = [&](int r, int c) {
        return &store[25 * (static_cast<std::size_t>(r) * static_cast<std::size_t>(w2) +
                            static_cast<std::size_t>(c))];
    };
    for (int r = 4; r <= h2 - 6; r += 2)
        for (int c = 5; c <= w2 - 5; c += 2) gather(Lattice::axial, grid, w2, r, c, slot(r, c));
    for (int r = 5; r <= h2 - 5; r += 2)
        for (int c = 4; c <= w2 - 6; c += 2) gather(Lattice::axial, grid, w2, r, c, slot(r, c));
    for (int r = 5; r <= h2 - 7; r += 2)
        for (int c = 6; c <= w2 - 8; c += 2)
            visit(Lattice::axial, grid, w2, r, c, rules, slot(r, c));
    for (int r = 6; r <= h2 - 8; r += 2)
        for (int c = 5; c <= w2 - 7; c += 2)
            visit(Lattice::axial, grid, w2, r, c, rules, slot(r, c));
    const auto fuse = [&](int r, int c) {
        at(grid, w2, r, c) = (slot(r, c)[12] + slot(r - 1, c + 1)[11] + slot(r + 1, c - 1)[13] +
                              slot(r - 1, c - 1)[17] + slot(r, c - 2)[18] + slot(r - 2, c)[16] +
                              slot(r + 1, c + 1)[7] + slot(r + 2, c)[8] + slot(r, c + 2)[6]) /
                             9.0;
    };
    for (int r = 7; r <= h2 - 9; r += 2)
        for (int c = 8; c <= w2 - 10; c += 2) fuse(r, c);
    for (int r = 8; r <= h2 - 10; r += 2)
        for (int c = 7; c <= w2 - 9; c += 2) fuse(r, c);
}

}  // namespace

void refine(double* grid, int w, int h, Rules rules) {
    diagonal_pass(grid, w, h, rules);
    axial_pass(grid, w, h, rules);
}

int output_sample(double value, int maxval) {
    if (std::isnan(value)) return 0;
    const double shifted = value + 0.5;
    if (shifted < 0.0) return 0;
    if (shifted >= maxval + 1.0) return maxval;
    return static_cast<int>(shifted);
}

}  // namespace reference

}  // namespace quillmorph
