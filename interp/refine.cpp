// The refinement passes.
//
// Each pass: allocate its block store, gather the pre-pass blocks, estimate
// every target (storing accepted centres in the grid and accepted blocks in
// the store), fuse the store back into the grid, release the store.  The
// diagonal pass runs first; the axial pass reads what it left in the
// diagonal cells.
//
// Targets keep a margin of five cells on every side, so every estimator
// window of 11 x 11 cells lies inside the grid.
#include "interp/refine.h"

#include <cstdlib>

#include "interp/block_store.h"
#include "interp/estimator.h"

namespace {

constexpr int target_margin = window_radius;  // first target row and column

using Estimator = double (*)(const double* window, int stride, int* accepted);
using SlotOf = std::size_t (*)(int r, int c, int w2);

// Estimates the targets at rows first_r, first_r + 2, ..., last_r and columns
// first_c, ..., last_c (rows outer).  Targets read only cells of other
// classes and their own, so the visiting order does not change any result.
void estimate_targets(double* grid, int w2, double* store, const Lattice& lattice,
                      Estimator estimate, SlotOf slot_of,
                      int first_r, int last_r, int first_c, int last_c) {
    for (int r = first_r; r <= last_r; r += 2) {
        for (int c = first_c; c <= last_c; c += 2) {
            double* target = grid + static_cast<std::ptrdiff_t>(r) * w2 + c;
            const double* window = target - static_cast<std::ptrdiff_t>(window_radius) * w2 - window_radius;
            int accepted = 0;
            const double value = estimate(window, w2, &accepted);
            if (!accepted) continue;
            *target = value;
            keep_block(lattice, block_vector, store + slot_of(r, c, w2) * slot_size);
        }
    }
}

int diagonal_pass(double* grid, int w2, int h2) {
    double* store = static_cast<double*>(std::malloc(diagonal_store_doubles(w2, h2) * sizeof(double)));
    if (!store) return -1;
    gather_diagonal_blocks(grid, store, w2, h2);
    estimate_targets(grid, w2, store, diagonal_lattice, estimate_diagonal, diagonal_slot,
                     target_margin, h2 - 7, target_margin, w2 - 7);
    fuse_diagonal_blocks(grid, store, w2, h2);
    std::free(store);
    return 0;
}

int axial_pass(double* grid, int w2, int h2) {
    double* store = static_cast<double*>(std::malloc(axial_store_doubles(w2, h2) * sizeof(double)));
    if (!store) return -1;
    gather_axial_blocks(grid, store, w2, h2);
    // (odd row, even column) targets, then (even row, odd column) targets.
    estimate_targets(grid, w2, store, axial_lattice, estimate_axial, axial_slot,
                     target_margin, h2 - 7, target_margin + 1, w2 - 8);
    estimate_targets(grid, w2, store, axial_lattice, estimate_axial, axial_slot,
                     target_margin + 1, h2 - 8, target_margin, w2 - 7);
    fuse_axial_blocks(grid, store, w2, h2);
    std::free(store);
    return 0;
}

}  // namespace

int refine_image(double* grid, int w, int h) {
    const int w2 = 2 * w, h2 = 2 * h;
    if (diagonal_pass(grid, w2, h2) != 0) return -1;
    if (axial_pass(grid, w2, h2) != 0) return -1;
    return 0;
}
