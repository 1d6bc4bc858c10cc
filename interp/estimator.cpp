#include "interp/estimator.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "interp/estimator_steps.h"
#include "linalg/solve.h"
#include "linalg/solve_lanes.h"

namespace {

// The block elements a fusion reads: the only ones a pass keeps.
std::uint32_t fused_elements_mask(const Lattice& lattice) {
    std::uint32_t mask = 0;
    for (int element : lattice.fusion_element) mask |= 1u << element;
    return mask;
}

// The block matrix holds 0.0 plus products a_k a_l (plus 1.0 on the
// diagonal): never -0.0, and finite while every |a_k| stays below this, as
// the banded solver requires of it.
constexpr double moderate_coefficient = 1e150;

bool coefficients_are_moderate(const double (&a)[model_order]) {
    bool moderate = true;
    for (double coefficient : a) moderate = moderate && std::fabs(coefficient) <= moderate_coefficient;
    return moderate;
}

// The grid value at offset (dr, dc) from the target, the window starting at
// offset (-window_radius, -window_radius).
double sample_at(const double* window, int stride, int dr, int dc) {
    const std::ptrdiff_t row = dr + window_radius;
    const std::ptrdiff_t column = dc + window_radius;
    return window[row * stride + column];
}

double sample_at(const double* window, int stride, Offset at) {
    return sample_at(window, stride, at.dr, at.dc);
}

}  // namespace

namespace {

// The model fit's normal equations for one lattice, its offsets known at
// compile time.  Every entry receives one product per training pixel, in
// training order, starting from 0.0; the bits of the fit depend on that
// order.  The sums are kept in locals, not in the scratch arrays, so that
// they can stay in registers.
template <const Lattice& L>
void assemble_model(const double* window, int stride) {
    double vector[model_order] = {};
    double matrix[model_order * model_order] = {};
    for (int t = 0; t < training_count; ++t) {
        const Offset at = L.training[t];
        const double pixel = sample_at(window, stride, at);
        double neighbour[model_order];
        for (int k = 0; k < model_order; ++k) {
            const Offset step = L.direction[k];
            neighbour[k] = sample_at(window, stride, at.dr + 2 * step.dr, at.dc + 2 * step.dc);
        }
        for (int k = 0; k < model_order; ++k) {
            vector[k] += neighbour[k] * pixel;
            for (int l = 0; l < model_order; ++l)
                matrix[k * model_order + l] += neighbour[k] * neighbour[l];
        }
    }
    for (int k = 0; k < model_order; ++k) model_vector[k] = vector[k];
    for (int k = 0; k < model_order * model_order; ++k) model_matrix[k] = matrix[k];
}

// The model fits of eight targets side by side, lane l from windows[l], in
// the order of assemble_model.
template <const Lattice& L>
__attribute__((always_inline)) inline void assemble_models(const double* const windows[solve_lanes],
                                                           int stride, lane_vector* vector,
                                                           lane_vector* matrix) {
    const auto gather = [windows, stride](Offset at, lane_vector& samples) {
        double values[solve_lanes];
        for (int l = 0; l < solve_lanes; ++l) values[l] = sample_at(windows[l], stride, at);
        std::memcpy(&samples, values, sizeof samples);
    };
    for (int k = 0; k < model_order; ++k) vector[k] = lane_vector{};
    for (int k = 0; k < model_order * model_order; ++k) matrix[k] = lane_vector{};
    for (int t = 0; t < training_count; ++t) {
        const Offset at = L.training[t];
        lane_vector pixel, neighbour[model_order];
        gather(at, pixel);
        for (int k = 0; k < model_order; ++k) {
            const Offset step = L.direction[k];
            gather({at.dr + 2 * step.dr, at.dc + 2 * step.dc}, neighbour[k]);
        }
        for (int k = 0; k < model_order; ++k) {
            vector[k] += neighbour[k] * pixel;
            for (int l = 0; l < model_order; ++l)
                matrix[k * model_order + l] += neighbour[k] * neighbour[l];
        }
    }
}

__attribute__((target_clones("avx512f", "avx2", "default")))
void assemble_model_lanes(const Lattice& lattice, const double* const windows[solve_lanes],
                          int stride, lane_vector* vector, lane_vector* matrix) {
    if (&lattice == &diagonal_lattice)
        assemble_models<diagonal_lattice>(windows, stride, vector, matrix);
    else
        assemble_models<axial_lattice>(windows, stride, vector, matrix);
}

// The block system's right-hand side p + Cᵀy for the coefficients a, element
// i at out[i]: the prediction terms as a left-to-right sum per block
// position, then the training pixels' terms in training order.
template <const Lattice& L>
void assemble_block_vector(const double (&a)[model_order], const double* window, int stride,
                           double* out) {
    double vector[block_size];
    for (int i = 0; i < block_size; ++i) {
        const Offset at = L.block[i];
        double neighbour[model_order];
        for (int k = 0; k < model_order; ++k) {
            const Offset step = L.direction[k];
            neighbour[k] = sample_at(window, stride, at.dr + step.dr, at.dc + step.dc);
        }
        vector[i] = a[0] * neighbour[0] + a[1] * neighbour[1] + a[2] * neighbour[2] +
                    a[3] * neighbour[3];
    }
    for (int q = 0; q < training_side; ++q) {
        for (int s = 0; s < training_side; ++s) {
            const double pixel = sample_at(window, stride, L.training[training_side * q + s]);
            const int u = training_block_base(q, s);
            for (int k = 0; k < model_order; ++k) vector[u + block_neighbour_step[k]] += a[k] * pixel;
        }
    }
    for (int i = 0; i < block_size; ++i) out[i] = vector[i];
}

// The terms of the block matrix I + CᵀC: entry (i, k) adds a_m a_l for each
// training pixel that has neighbour m at block position i and neighbour l
// at block position k, in training order.  Within the band |i - k| <= 6
// every entry is such a sum (distances 2 and 3 have no terms); outside it
// there are none.
struct EntryTerms {
    int count;
    int product[training_count];  // m * model_order + l
};

struct BlockMatrixTerms {
    EntryTerms entry[block_size * block_size];
};

constexpr BlockMatrixTerms block_matrix_terms() {
    BlockMatrixTerms terms{};
    for (int q = 0; q < training_side; ++q)
        for (int s = 0; s < training_side; ++s) {
            const int u = training_block_base(q, s);
            for (int m = 0; m < model_order; ++m)
                for (int l = 0; l < model_order; ++l) {
                    EntryTerms& e = terms.entry[(u + block_neighbour_step[m]) * block_size + u + block_neighbour_step[l]];
                    e.product[e.count++] = m * model_order + l;
                }
        }
    return terms;
}

constexpr BlockMatrixTerms block_terms = block_matrix_terms();

// Writes the entries of I + CᵀC within the band, each summed from 0.0 in
// training order with the 1.0 of the diagonal added last, and leaves the
// others as they are.  It depends on the coefficients alone, and the
// products a_m a_l are the same for every training pixel, so they are formed
// once.  Value is double, or a lane vector for systems solved side by side.
template <typename Value>
__attribute__((always_inline)) inline void assemble_block_band(const Value (&a)[model_order],
                                                               Value* matrix) {
    Value product[model_order * model_order];
    for (int m = 0; m < model_order; ++m)
        for (int l = 0; l < model_order; ++l) product[m * model_order + l] = a[m] * a[l];

    for (int i = 0; i < block_size; ++i) {
        const int first = i > block_bandwidth ? i - block_bandwidth : 0;
        const int last = i + block_bandwidth < block_size ? i + block_bandwidth : block_size - 1;
        for (int k = first; k <= last; ++k) {
            const EntryTerms& terms = block_terms.entry[i * block_size + k];
            Value sum = Value{};
            for (int t = 0; t < terms.count; ++t) sum += product[terms.product[t]];
            if (k == i) sum += 1.0;
            matrix[i * block_size + k] = sum;
        }
    }
}

// The lane version, compiled for each processor's vector width.
__attribute__((target_clones("avx512f", "avx2", "default")))
void assemble_lane_band(const lane_vector (&a)[model_order], lane_vector* matrix) {
    assemble_block_band(a, matrix);
}

template <const Lattice& L>
void assemble_block(const double* window, int stride) {
    const double a[model_order] = {model_vector[0], model_vector[1], model_vector[2],
                                   model_vector[3]};
    assemble_block_vector<L>(a, window, stride, block_vector);
    for (double& entry : block_matrix) entry = 0.0;
    assemble_block_band(a, block_matrix);
}

}  // namespace

void assemble_model_system(const Lattice& lattice, const double* window, int stride) {
    if (&lattice == &diagonal_lattice)
        assemble_model<diagonal_lattice>(window, stride);
    else
        assemble_model<axial_lattice>(window, stride);
}

void assemble_block_system(const Lattice& lattice, const double* window, int stride) {
    if (&lattice == &diagonal_lattice)
        assemble_block<diagonal_lattice>(window, stride);
    else
        assemble_block<axial_lattice>(window, stride);
}

bool block_is_plausible(const Lattice& lattice, const double* block) {
    for (int element : lattice.fusion_element) {
        const double v = block[element];
        if (!std::isfinite(v) || v < plausible_block_min || v > plausible_block_max) return false;
    }
    return true;
}

// 1. Fit the model; reject when its normal matrix was singular.
// 2. Solve for the block; reject when its matrix was singular.
// 3. Reject a block the fusion must not see (wild values from a fit that was
//    singular only up to rounding).
// 4. Accept; an implausible centre leaves the target's current value, while
//    the unclamped block stays in block_vector for the block store.
double estimate_on_lattice(const Lattice& lattice, const double* window, int stride,
                           int* accepted) {
    *accepted = 0;

    assemble_model_system(lattice, window, stride);
    solve_linear_system(model_order, model_vector, model_matrix);
    if (model_matrix[model_order * model_order - 1] < acceptance_threshold) return 0.0;

    assemble_block_system(lattice, window, stride);
    if (coefficients_are_moderate(model_vector))
        solve_banded_system(block_size, block_bandwidth, block_vector, block_matrix,
                            fused_elements_mask(lattice));
    else
        solve_linear_system(block_size, block_vector, block_matrix);
    if (block_matrix[block_size * block_size - 1] < acceptance_threshold) return 0.0;

    if (!block_is_plausible(lattice, block_vector)) return 0.0;

    *accepted = 1;
    const double centre = block_vector[block_centre];
    return centre_in_range(centre) ? centre : sample_at(window, stride, 0, 0);
}

double estimate_diagonal(const double* window, int stride, int* accepted) {
    return estimate_on_lattice(diagonal_lattice, window, stride, accepted);
}

double estimate_axial(const double* window, int stride, int* accepted) {
    return estimate_on_lattice(axial_lattice, window, stride, accepted);
}

namespace {

// The block systems of a batch, one target in each lane.
thread_local lane_vector batch_vector[block_size];
thread_local lane_vector batch_matrix[block_size * block_size];

// One target on its own, the way estimate_on_lattice does it; block gets the
// block estimate when accepted.
void estimate_alone(const Lattice& lattice, const double* window, int stride, int* accepted,
                    double* block) {
    estimate_on_lattice(lattice, window, stride, accepted);
    if (*accepted)
        for (int i = 0; i < block_size; ++i) block[i] = block_vector[i];
}

// Targets whose model fit is regular wait here for the block stage, one in
// each lane, with their coefficients.  The block systems' right-hand sides
// are in batch_vector.
struct BlockBatch {
    lane_vector coefficient[model_order];
    int target_of_lane[solve_lanes];
    int lanes_used;
};

// Solves the block systems of a batch side by side and hands each target
// its block.  Lanes left empty solve I x = 0.
template <const Lattice& L>
void finish_block_batch(BlockBatch& batch, const double* const windows[], int stride,
                        int accepted[], double blocks[][block_size]) {
    for (int lane = batch.lanes_used; lane < solve_lanes; ++lane) {
        for (lane_vector& a : batch.coefficient) a[lane] = 0.0;
        for (lane_vector& element : batch_vector) element[lane] = 0.0;
    }
    assemble_lane_band(batch.coefficient, batch_matrix);
    const std::uint32_t settled = solve_banded_lanes(block_size, block_bandwidth, batch_vector,
                                                     batch_matrix, fused_elements_mask(L));
    for (int lane = 0; lane < batch.lanes_used; ++lane) {
        const int t = batch.target_of_lane[lane];
        if (!(settled >> lane & 1u)) {
            estimate_alone(L, windows[t], stride, &accepted[t], blocks[t]);
            continue;
        }
        // Every column found a pivot: the last diagonal entry is 1.0.
        for (int i = 0; i < block_size; ++i) blocks[t][i] = batch_vector[i][lane];
        accepted[t] = block_is_plausible(L, blocks[t]) ? 1 : 0;
    }
    batch.lanes_used = 0;
}

template <const Lattice& L>
void estimate_targets(const double* const windows[], int count, int stride, int accepted[],
                      double blocks[][block_size]) {
    BlockBatch batch = {};
    for (int first = 0; first < count; first += solve_lanes) {
        // The model fits of up to eight targets (spare lanes repeat the first).
        const int fits = count - first < solve_lanes ? count - first : solve_lanes;
        const double* fit_window[solve_lanes];
        for (int l = 0; l < solve_lanes; ++l) fit_window[l] = windows[first + (l < fits ? l : 0)];
        lane_vector fit_vector[model_order], fit_matrix[model_order * model_order];
        assemble_model_lanes(L, fit_window, stride, fit_vector, fit_matrix);
        solve_dense_lanes(model_order, fit_vector, fit_matrix);

        for (int l = 0; l < fits; ++l) {
            const int t = first + l;
            accepted[t] = 0;
            if (fit_matrix[model_order * model_order - 1][l] < acceptance_threshold) continue;
            const double a[model_order] = {fit_vector[0][l], fit_vector[1][l], fit_vector[2][l],
                                           fit_vector[3][l]};
            if (!coefficients_are_moderate(a)) {
                estimate_alone(L, windows[t], stride, &accepted[t], blocks[t]);
                continue;
            }
            const int lane = batch.lanes_used++;
            batch.target_of_lane[lane] = t;
            for (int k = 0; k < model_order; ++k) batch.coefficient[k][lane] = a[k];
            double vector[block_size];
            assemble_block_vector<L>(a, windows[t], stride, vector);
            for (int i = 0; i < block_size; ++i) batch_vector[i][lane] = vector[i];
            if (batch.lanes_used == solve_lanes) finish_block_batch<L>(batch, windows, stride, accepted, blocks);
        }
    }
    if (batch.lanes_used > 0) finish_block_batch<L>(batch, windows, stride, accepted, blocks);
}

}  // namespace

void estimate_batch(const Lattice& lattice, const double* const windows[], int count, int stride,
                    int accepted[], double blocks[][block_size]) {
    if (&lattice == &diagonal_lattice)
        estimate_targets<diagonal_lattice>(windows, count, stride, accepted, blocks);
    else
        estimate_targets<axial_lattice>(windows, count, stride, accepted, blocks);
}
