// The estimator of many targets: model fits a batch at a time side by side,
// then the block systems of the targets whose fit is regular, a batch at a
// time side by side, on the process's vector kernels.  The same results as
// one estimate_on_lattice call per target, bit for bit; a system the batch
// solver cannot settle is estimated on its own.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "interp/estimator.h"
#include "interp/estimator_assembly.h"
#include "interp/estimator_steps.h"
#include "interp/vector_kernels.h"
#include "linalg/solve_batch.h"

namespace quillmorph {

using namespace assembly;

namespace {

// entry[system] = x, for a system known only at run time, written through
// the entry's bytes: an element assigned by index makes Clang copy the
// whole vector through the stack and back (WebAssembly's build spent more
// time on that than on the fits it feeds).  The same store to GCC.
void set_system(batch_entry& entry, int system, double x) {
    std::memcpy(
        reinterpret_cast<unsigned char*>(&entry) + static_cast<std::size_t>(system) * sizeof x, &x,
        sizeof x);
}

// One target on its own, the way estimate_on_lattice does it; block gets the
// block estimate when accepted.
void estimate_alone(Estimator& e, const Lattice& lattice, const double* window, int stride,
                    int* accepted, double* block) {
    estimate_on_lattice(e, lattice, window, stride, accepted);
    if (*accepted)
        for (int i = 0; i < block_size; ++i) block[i] = e.block_vector[i];
}

// Targets whose model fit is regular wait here for the block stage, one in
// each system, with their coefficients.  The block systems' right-hand
// sides are in the estimator's batch_vector.
struct BlockBatch {
    batch_entry coefficient[model_order];
    int target_of_system[batch_size];
    int systems_used;
};

// Solves the block systems of a batch side by side and hands each target
// its block.  Systems left empty solve I x = 0.
template <const Lattice& L>
void finish_block_batch(Estimator& e, BlockBatch& batch, const double* const windows[], int stride,
                        int accepted[], double blocks[][block_size]) {
    for (int system = batch.systems_used; system < batch_size; ++system) {
        for (batch_entry& a : batch.coefficient) set_system(a, system, 0.0);
        for (batch_entry& element : e.batch_vector) set_system(element, system, 0.0);
    }
    e.kernels->assemble_block_bands(batch.coefficient, e.batch_matrix);
    const std::uint32_t settled =
        e.kernels->solve_blocks(e.batch_vector, e.batch_matrix, fused_elements_mask(L));
    for (int system = 0; system < batch.systems_used; ++system) {
        const int t = batch.target_of_system[system];
        if (!(settled >> system & 1u)) {
            estimate_alone(e, L, windows[t], stride, &accepted[t], blocks[t]);
            continue;
        }
        // Every column found a pivot: the last diagonal entry is 1.0.
        for (int i = 0; i < block_size; ++i) blocks[t][i] = e.batch_vector[i][system];
        accepted[t] = block_accepted(1.0, L, blocks[t], e.maxval) ? 1 : 0;
    }
    batch.systems_used = 0;
}

template <const Lattice& L>
void estimate_targets(Estimator& e, const double* const windows[], int count, int stride,
                      int accepted[], double blocks[][block_size]) {
    BlockBatch batch = {};
    for (int first = 0; first < count; first += batch_size) {
        // The model fits of up to a batch of targets (spare systems repeat
        // the first).
        const int fits = count - first < batch_size ? count - first : batch_size;
        const double* fit_window[batch_size];
        for (int l = 0; l < batch_size; ++l) fit_window[l] = windows[first + (l < fits ? l : 0)];
        batch_entry fit_vector[model_order], fit_matrix[model_order * model_order];
        e.kernels->assemble_models(L, fit_window, stride, fit_vector, fit_matrix);
        e.kernels->solve_models(fit_vector, fit_matrix);

        // Each system holds what the one-target solve leaves: the same test.
        for (int l = 0; l < fits; ++l) {
            const int t = first + l;
            accepted[t] = 0;
            const double a[model_order] = {fit_vector[0][l], fit_vector[1][l], fit_vector[2][l],
                                           fit_vector[3][l]};
            if (!model_fit_accepted(fit_matrix[model_order * model_order - 1][l], a)) continue;
            const int system = batch.systems_used++;
            batch.target_of_system[system] = t;
            for (int k = 0; k < model_order; ++k) set_system(batch.coefficient[k], system, a[k]);
            double vector[block_size];
            assemble_block_vector<L>(a, windows[t], stride, vector);
            for (int i = 0; i < block_size; ++i) set_system(e.batch_vector[i], system, vector[i]);
            if (batch.systems_used == batch_size)
                finish_block_batch<L>(e, batch, windows, stride, accepted, blocks);
        }
    }
    if (batch.systems_used > 0) finish_block_batch<L>(e, batch, windows, stride, accepted, blocks);
}

}  // namespace

void estimate_batch(Estimator& e, const Lattice& lattice, const double* const windows[], int count,
                    int stride, int accepted[], double blocks[][block_size]) {
    with_lattice(lattice, [&](auto on) {
        estimate_targets<decltype(on)::lattice>(e, windows, count, stride, accepted, blocks);
    });
}

}  // namespace quillmorph
