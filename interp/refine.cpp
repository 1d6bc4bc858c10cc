// The refinement passes.
//
// Each pass: allocate its block store; estimate every target, keeping an
// accepted block estimate in the target's slot and gathering the pre-pass
// values of a rejected target's block instead; store the accepted centres
// in the grid; fuse the store back into the grid; release the store.  The
// diagonal pass runs first; the axial pass reads what it left in the
// diagonal cells.
//
// A slot is gathered only where it will be read: a fusion reads only the
// slots of targets, and a target's slot is replaced whenever its estimate is
// accepted.  The gather must see pre-pass values, so the accepted centres go
// into the grid only after the pass's last estimate; until then no cell of
// the pass's kind changes, and an estimator, which reads its own target only
// for its fallback, sees the same values as when each centre is stored at
// once.
//
// Targets keep a margin of five cells on every side, so every estimator
// window of 11 x 11 cells lies inside the grid.
//
// The targets of a pass are independent: an estimator reads only cells of
// other classes and its own target, and each target writes only its own cell
// and its own slot.  So the rows of targets are shared out among threads,
// each with its own estimator scratch, and the result is the same bits for
// any number of threads and any order.
#include "interp/refine.h"

#include <sched.h>

#include <atomic>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <vector>

#include "interp/block_store.h"
#include "interp/estimator.h"
#include "interp/grid.h"

namespace {

constexpr int target_margin = window_radius;  // first target row and column
constexpr int max_threads = 256;

using Estimator = double (*)(const double* window, int stride, int* accepted);
using SlotOf = std::size_t (*)(int r, int c, int w2);

// One estimator loop: the targets at rows first_r, first_r + 2, ..., last_r
// and columns first_c, ..., last_c.
struct TargetLoop {
    double* grid;
    int w2;
    double* store;
    const Lattice* lattice;
    Estimator estimate;
    SlotOf slot_of;
    int first_r, last_r, first_c, last_c;
};

void estimate_row(const TargetLoop& loop, int r) {
    for (int c = loop.first_c; c <= loop.last_c; c += 2) {
        double* target = loop.grid + static_cast<std::ptrdiff_t>(r) * loop.w2 + c;
        const double* window =
            target - static_cast<std::ptrdiff_t>(window_radius) * loop.w2 - window_radius;
        double* slot = loop.store + loop.slot_of(r, c, loop.w2) * slot_size;
        int accepted = 0;
        loop.estimate(window, loop.w2, &accepted);
        if (accepted)
            keep_block(*loop.lattice, block_vector, slot);
        else
            gather_block(*loop.lattice, loop.grid, loop.w2, r, c, slot);
    }
}

// Stores the accepted centres: an estimator returns its block's centre when
// that lies within 0..255 and leaves the target as it is otherwise.  A
// rejected target's slot holds the target's own value, so storing it
// changes nothing.
void store_centres(const TargetLoop& loop) {
    const int centre = slot_centre(*loop.lattice);
    for (int r = loop.first_r; r <= loop.last_r; r += 2) {
        for (int c = loop.first_c; c <= loop.last_c; c += 2) {
            const double value = loop.store[loop.slot_of(r, c, loop.w2) * slot_size + centre];
            if (centre_in_range(value)) loop.grid[static_cast<std::ptrdiff_t>(r) * loop.w2 + c] = value;
        }
    }
}

// Takes rows from next_row until none is left.
void estimate_rows(const TargetLoop& loop, std::atomic<int>* next_row) {
    for (;;) {
        const int r = next_row->fetch_add(2);
        if (r > loop.last_r) return;
        estimate_row(loop, r);
    }
}

// Runs the loop on up to `threads` threads; the calling thread is one of
// them, and does the work alone if no other thread can be started.
void estimate_targets(const TargetLoop& loop, int threads) {
    std::atomic<int> next_row(loop.first_r);
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(estimate_rows, std::cref(loop), &next_row);
        } catch (const std::system_error&) {
            break;
        }
    }
    estimate_rows(loop, &next_row);
    for (std::thread& helper : helpers) helper.join();
}

int diagonal_pass(double* grid, int w2, int h2, int threads) {
    double* store = allocate_doubles(diagonal_store_doubles(w2, h2));
    if (!store) return -1;
    const TargetLoop targets = {grid, w2, store, &diagonal_lattice, estimate_diagonal, diagonal_slot,
                                target_margin, h2 - 7, target_margin, w2 - 7};
    estimate_targets(targets, threads);
    store_centres(targets);
    fuse_diagonal_blocks(grid, store, w2, h2);
    std::free(store);
    return 0;
}

int axial_pass(double* grid, int w2, int h2, int threads) {
    double* store = allocate_doubles(axial_store_doubles(w2, h2));
    if (!store) return -1;
    // (odd row, even column) targets, then (even row, odd column) targets.
    const TargetLoop first_family = {grid, w2, store, &axial_lattice, estimate_axial, axial_slot,
                                     target_margin, h2 - 7, target_margin + 1, w2 - 8};
    const TargetLoop second_family = {grid, w2, store, &axial_lattice, estimate_axial, axial_slot,
                                      target_margin + 1, h2 - 8, target_margin, w2 - 7};
    estimate_targets(first_family, threads);
    estimate_targets(second_family, threads);
    store_centres(first_family);
    store_centres(second_family);
    fuse_axial_blocks(grid, store, w2, h2);
    std::free(store);
    return 0;
}

}  // namespace

int available_threads() {
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
    const int count = CPU_COUNT(&cpus);
    if (count < 1) return 1;
    return count < max_threads ? count : max_threads;
}

int refine_image_threads(double* grid, int w, int h, int threads) {
    const int w2 = 2 * w, h2 = 2 * h;
    if (threads < 1) threads = 1;
    if (threads > max_threads) threads = max_threads;
    if (diagonal_pass(grid, w2, h2, threads) != 0) return -1;
    if (axial_pass(grid, w2, h2, threads) != 0) return -1;
    return 0;
}

int refine_image(double* grid, int w, int h) {
    return refine_image_threads(grid, w, h, available_threads());
}
