// The estimator of many targets: model fits eight at a time side by side,
// then the block systems of the targets whose fit is regular, eight at a
// time side by side.  The same results as one estimate_on_lattice call per
// target, bit for bit; a lane the lane solvers cannot settle is estimated on
// its own.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "interp/estimator.h"
#include "interp/estimator_assembly.h"
#include "interp/estimator_steps.h"
#include "linalg/banded.h"
#include "linalg/elimination.h"
#include "linalg/solve_lanes.h"
#include "linalg/vector_dispatch.h"

namespace quillmorph {

using namespace assembly;

namespace {

// The lane solvers instantiated for the estimator's shapes, one copy per
// processor.  (Clang resolves a cloned function only within its own file,
// hence the plain wrappers below.)
QUILLMORPH_CLONES("avx512f", "avx2", "default")
void solve_model_lanes_cloned(lane_vector* b, lane_vector* a) {
    elimination::eliminate<lane_vector, model_order>(model_order, b, a);
}

QUILLMORPH_CLONES("avx512f", "avx2", "default")
std::uint32_t solve_block_lanes_cloned(lane_vector* b, lane_vector* a,
                                       std::uint32_t finished_rows) {
    return banded::solve_banded_lanes_sized<block_size, block_bandwidth>(
        block_size, block_bandwidth, b, a, finished_rows);
}

}  // namespace

void assembly::solve_model_lanes(lane_vector* b, lane_vector* a) { solve_model_lanes_cloned(b, a); }

std::uint32_t assembly::solve_block_lanes(lane_vector* b, lane_vector* a,
                                          std::uint32_t finished_rows) {
    return solve_block_lanes_cloned(b, a, finished_rows);
}

namespace {

// The lane versions of the assembly, compiled for each processor's vector
// width.
QUILLMORPH_CLONES("avx512f", "avx2", "default")
void assemble_model_lanes(const Lattice& lattice, const double* const windows[solve_lanes],
                          int stride, lane_vector* vector, lane_vector* matrix) {
    // Inlined, so that the assembly is compiled for each clone's processor.
    with_lattice(
        lattice, [&](auto on) __attribute__((always_inline)) {
            assemble_models<decltype(on)::lattice>(windows, stride, vector, matrix);
        });
}

QUILLMORPH_CLONES("avx512f", "avx2", "default")
void assemble_lane_band(const lane_vector (&a)[model_order], lane_vector* matrix) {
    assemble_block_band(a, matrix);
}

// lane_vector[lane] = x, for a lane known only at run time, written through
// the vector's bytes: an element assigned by index makes Clang copy the
// whole vector through the stack and back (WebAssembly's build spent more
// time on that than on the fits it feeds).  The same store to GCC.
void set_lane(lane_vector& v, int lane, double x) {
    std::memcpy(reinterpret_cast<unsigned char*>(&v) + static_cast<std::size_t>(lane) * sizeof x,
                &x, sizeof x);
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
// each lane, with their coefficients.  The block systems' right-hand sides
// are in the estimator's batch_vector.
struct BlockBatch {
    lane_vector coefficient[model_order];
    int target_of_lane[solve_lanes];
    int lanes_used;
};

// Solves the block systems of a batch side by side and hands each target
// its block.  Lanes left empty solve I x = 0.
template <const Lattice& L>
void finish_block_batch(Estimator& e, BlockBatch& batch, const double* const windows[], int stride,
                        int accepted[], double blocks[][block_size]) {
    for (int lane = batch.lanes_used; lane < solve_lanes; ++lane) {
        for (lane_vector& a : batch.coefficient) set_lane(a, lane, 0.0);
        for (lane_vector& element : e.batch_vector) set_lane(element, lane, 0.0);
    }
    assemble_lane_band(batch.coefficient, e.batch_matrix);
    const std::uint32_t settled =
        solve_block_lanes(e.batch_vector, e.batch_matrix, fused_elements_mask(L));
    for (int lane = 0; lane < batch.lanes_used; ++lane) {
        const int t = batch.target_of_lane[lane];
        if (!(settled >> lane & 1u)) {
            estimate_alone(e, L, windows[t], stride, &accepted[t], blocks[t]);
            continue;
        }
        // Every column found a pivot: the last diagonal entry is 1.0.
        for (int i = 0; i < block_size; ++i) blocks[t][i] = e.batch_vector[i][lane];
        accepted[t] = block_accepted(1.0, L, blocks[t], e.maxval) ? 1 : 0;
    }
    batch.lanes_used = 0;
}

template <const Lattice& L>
void estimate_targets(Estimator& e, const double* const windows[], int count, int stride,
                      int accepted[], double blocks[][block_size]) {
    BlockBatch batch = {};
    for (int first = 0; first < count; first += solve_lanes) {
        // The model fits of up to eight targets (spare lanes repeat the first).
        const int fits = count - first < solve_lanes ? count - first : solve_lanes;
        const double* fit_window[solve_lanes];
        for (int l = 0; l < solve_lanes; ++l) fit_window[l] = windows[first + (l < fits ? l : 0)];
        lane_vector fit_vector[model_order], fit_matrix[model_order * model_order];
        assemble_model_lanes(L, fit_window, stride, fit_vector, fit_matrix);
        solve_model_lanes(fit_vector, fit_matrix);

        // Each lane holds what the one-target solve leaves: the same test.
        for (int l = 0; l < fits; ++l) {
            const int t = first + l;
            accepted[t] = 0;
            const double a[model_order] = {fit_vector[0][l], fit_vector[1][l], fit_vector[2][l],
                                           fit_vector[3][l]};
            if (!model_fit_accepted(fit_matrix[model_order * model_order - 1][l], a)) continue;
            const int lane = batch.lanes_used++;
            batch.target_of_lane[lane] = t;
            for (int k = 0; k < model_order; ++k) set_lane(batch.coefficient[k], lane, a[k]);
            double vector[block_size];
            assemble_block_vector<L>(a, windows[t], stride, vector);
            for (int i = 0; i < block_size; ++i) set_lane(e.batch_vector[i], lane, vector[i]);
            if (batch.lanes_used == solve_lanes)
                finish_block_batch<L>(e, batch, windows, stride, accepted, blocks);
        }
    }
    if (batch.lanes_used > 0) finish_block_batch<L>(e, batch, windows, stride, accepted, blocks);
}

}  // namespace

void estimate_batch(Estimator& e, const Lattice& lattice, const double* const windows[], int count,
                    int stride, int accepted[], double blocks[][block_size]) {
    with_lattice(lattice, [&](auto on) {
        estimate_targets<decltype(on)::lattice>(e, windows, count, stride, accepted, blocks);
    });
}

}  // namespace quillmorph
