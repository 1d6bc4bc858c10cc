// The assembly of the estimators' normal equations, shared by the estimator
// of one target (interp/estimator.cpp) and the estimator of many side by
// side (interp/estimate_batch.cpp).
//
// The bits of every estimate depend on the order in which these sums are
// formed, so that order is written down once, here.
#ifndef QUILLMORPH_INTERP_ESTIMATOR_ASSEMBLY_H
#define QUILLMORPH_INTERP_ESTIMATOR_ASSEMBLY_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "interp/estimator.h"
#include "interp/lattice.h"
#include "linalg/solve_batch.h"

namespace quillmorph {

namespace assembly {

// The block elements a fusion reads: the only ones a pass keeps.
inline std::uint32_t fused_elements_mask(const Lattice& lattice) {
    std::uint32_t mask = 0;
    for (int element : lattice.fusion_element) mask |= 1u << element;
    return mask;
}

// The grid value at offset (dr, dc) from the target, the window starting at
// offset (-window_radius, -window_radius).  Always inlined: the vector
// kernels, compiled once per vector unit, use it too (interp/vector_kernels.h).
__attribute__((always_inline)) inline double sample_at(const double* window, int stride, int dr,
                                                       int dc) {
    const std::ptrdiff_t row = dr + window_radius;
    const std::ptrdiff_t column = dc + window_radius;
    return window[row * stride + column];
}

__attribute__((always_inline)) inline double sample_at(const double* window, int stride,
                                                       Offset at) {
    return sample_at(window, stride, at.dr, at.dc);
}

// The model fit's normal equations for one lattice, its offsets known at
// compile time.  Every entry receives one product per training pixel, in
// training order, starting from 0.0; the bits of the fit depend on that
// order.  The sums are kept in locals, not in the scratch arrays, so that
// they can stay in registers.
template <const Lattice& L>
void assemble_model(Estimator& e, const double* window, int stride) {
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
    for (int k = 0; k < model_order; ++k) e.model_vector[k] = vector[k];
    for (int k = 0; k < model_order * model_order; ++k) e.model_matrix[k] = matrix[k];
}

// The model fits of a batch of targets side by side, system l from
// windows[l], in the order of assemble_model.  Batch is the vector kernels'
// type (linalg/batch.h), stored as batch_size doubles in system order.
template <const Lattice& L, typename Batch>
__attribute__((always_inline)) inline void assemble_models(const double* const windows[batch_size],
                                                           int stride, Batch* vector,
                                                           Batch* matrix) {
    static_assert(sizeof(Batch) == batch_size * sizeof(double), "a batch holds a double each");
    const auto gather =
        [ windows, stride ](Offset at, Batch & samples) __attribute__((always_inline)) {
        double values[batch_size];
        for (int l = 0; l < batch_size; ++l) values[l] = sample_at(windows[l], stride, at);
        std::memcpy(static_cast<void*>(&samples), values, sizeof samples);
    };
    for (int k = 0; k < model_order; ++k) vector[k] = Batch{};
    for (int k = 0; k < model_order * model_order; ++k) matrix[k] = Batch{};
    for (int t = 0; t < training_count; ++t) {
        const Offset at = L.training[t];
        Batch pixel, neighbour[model_order];
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
        vector[i] =
            a[0] * neighbour[0] + a[1] * neighbour[1] + a[2] * neighbour[2] + a[3] * neighbour[3];
    }
    for (int q = 0; q < training_side; ++q) {
        for (int s = 0; s < training_side; ++s) {
            const double pixel = sample_at(window, stride, L.training[training_side * q + s]);
            const int u = training_block_base(q, s);
            for (int k = 0; k < model_order; ++k)
                vector[u + block_neighbour_step[k]] += a[k] * pixel;
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
                    EntryTerms& e = terms.entry[(u + block_neighbour_step[m]) * block_size + u +
                                                block_neighbour_step[l]];
                    e.product[e.count++] = m * model_order + l;
                }
        }
    return terms;
}

inline constexpr BlockMatrixTerms block_terms = block_matrix_terms();

// Writes the entries of I + CᵀC within the band, each summed from 0.0 in
// training order with the 1.0 of the diagonal added last, and leaves the
// others as they are.  For an accepted fit (every |a_k| at most
// max_model_coefficient) each entry is a sum of at most 16 products below
// 64 in magnitude, plus 1.0: finite, and never -0.0, since a sum that starts
// from +0.0 cannot become -0.0.  That is what the banded solvers require of
// a matrix.  It depends on the coefficients alone, and the
// products a_m a_l are the same for every training pixel, so they are formed
// once.  Value is double, or a Batch for systems solved side by side.
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

// One estimator's systems solved by the linalg/ solvers instantiated for
// their shapes (interp/estimator.cpp): the same terms and results as
// solve_linear_system and solve_banded_system with n and bandwidth those of
// the systems.  The batches' are the vector kernels' (interp/vector_kernels.h).
void solve_model_system(double* b, double* a);
void solve_block_system(double* b, double* a, std::uint32_t finished_rows);

}  // namespace assembly

}  // namespace quillmorph

#endif
