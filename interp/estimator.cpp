// The estimator of one target: the definition that the batch estimator
// (interp/estimate_batch.cpp) reproduces, and its fallback.
#include "interp/estimator.h"

#include <new>

#include "interp/estimator_assembly.h"
#include "interp/estimator_steps.h"
#include "linalg/banded.h"
#include "linalg/elimination.h"
#include "platform/memory.h"

namespace quillmorph {

using namespace assembly;

// One system at a time is the batch's rare fallback, so these are compiled
// for the target's baseline alone.
void assembly::solve_model_system(double* b, double* a) {
    elimination::eliminate<double, model_order>(model_order, b, a);
}

void assembly::solve_block_system(double* b, double* a, std::uint32_t finished_rows) {
    banded::solve_banded_sized<block_size, block_bandwidth>(block_size, block_bandwidth, b, a,
                                                            finished_rows);
}

namespace {

template <const Lattice& L>
void assemble_block(Estimator& e, const double* window, int stride) {
    const double a[model_order] = {e.model_vector[0], e.model_vector[1], e.model_vector[2],
                                   e.model_vector[3]};
    assemble_block_vector<L>(a, window, stride, e.block_vector);
    for (double& entry : e.block_matrix) entry = 0.0;
    assemble_block_band(a, e.block_matrix);
}

}  // namespace

Estimator* new_estimators(int count, double maxval) {
    const VectorKernels* kernels = vector_kernels();
    if (!kernels) return nullptr;
    void* memory = platform_aligned_alloc(alignof(Estimator),
                                          static_cast<std::size_t>(count) * sizeof(Estimator));
    if (!memory) return nullptr;
    Estimator* estimators = static_cast<Estimator*>(memory);
    for (int i = 0; i < count; ++i)
        new (&estimators[i]) Estimator{{}, {}, {}, {}, {}, {}, maxval, kernels};
    return estimators;
}

void free_estimators(Estimator* estimators) { platform_aligned_free(estimators); }

void assemble_model_system(Estimator& e, const Lattice& lattice, const double* window, int stride) {
    with_lattice(lattice,
                 [&](auto on) { assemble_model<decltype(on)::lattice>(e, window, stride); });
}

void assemble_block_system(Estimator& e, const Lattice& lattice, const double* window, int stride) {
    with_lattice(lattice,
                 [&](auto on) { assemble_block<decltype(on)::lattice>(e, window, stride); });
}

// 1. Fit the model; reject when its normal matrix was singular, or when a
//    coefficient is so large that the fit was singular up to rounding.
// 2. Solve for the block; reject when its matrix was singular.
// 3. Reject a block the fusion must not see (values far outside the pixel
//    range), a second guard against fits that were nearly singular.
// 4. Accept; an implausible centre leaves the target's current value, while
//    the unclamped block stays in block_vector for the block store.
double estimate_on_lattice(Estimator& e, const Lattice& lattice, const double* window, int stride,
                           int* accepted) {
    *accepted = 0;

    assemble_model_system(e, lattice, window, stride);
    solve_model_system(e.model_vector, e.model_matrix);
    if (!model_fit_accepted(e.model_matrix[model_order * model_order - 1], e.model_vector))
        return 0.0;

    // The accepted coefficients keep the block matrix finite and free of
    // -0.0 (assemble_block_band), as the banded solver requires.
    assemble_block_system(e, lattice, window, stride);
    solve_block_system(e.block_vector, e.block_matrix, fused_elements_mask(lattice));
    if (!block_accepted(e.block_matrix[block_size * block_size - 1], lattice, e.block_vector,
                        e.maxval))
        return 0.0;

    *accepted = 1;
    return target_value(e.block_vector[block_centre], sample_at(window, stride, 0, 0), e.maxval);
}

double estimate_diagonal(Estimator& e, const double* window, int stride, int* accepted) {
    return estimate_on_lattice(e, diagonal_lattice, window, stride, accepted);
}

double estimate_axial(Estimator& e, const double* window, int stride, int* accepted) {
    return estimate_on_lattice(e, axial_lattice, window, stride, accepted);
}

}  // namespace quillmorph
