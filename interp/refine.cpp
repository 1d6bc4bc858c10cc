// The refinement passes.
//
// Each pass estimates every target, keeping an accepted block estimate in
// the target's slot and gathering the pre-pass values of a rejected
// target's block instead; stores the accepted centres in the grid; and
// replaces the cells of its fused area by the mean of the nine block
// estimates that cover each.  The diagonal pass runs first; the axial pass
// reads what it left in the diagonal cells.
//
// The order of the targets does not change any result: an estimator reads
// only cells of other classes and its own target, a target writes only its
// own slot, and a fusion reads only slots.  What matters is that every cell
// a gather or an estimator reads still holds its pre-pass value.  Gathers
// and fusions reach two rows up and down, so a pass sweeps down the grid in
// bands of rows: it estimates a band (its rows shared out among threads,
// each with its own estimator scratch), then stores the centres and fuses
// the rows that no later target can see (those two rows and more above the
// next band), and reuses their slots for the next band.  The store holds a
// band and the four rows above it instead of the whole grid, and the result
// is the same bits for any number of threads and any band height.
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
#include "interp/pass_area.h"

namespace {

constexpr int max_threads = 256;
// HR rows estimated between two fusions: enough work to keep every thread
// busy, few enough that the store stays small.
constexpr int band_rows = 32;
// A fusion reads the slots of targets two rows above and below its cell.
constexpr int fusion_reach = 2;
constexpr int store_rows = band_rows + 2 * fusion_reach;

using Estimator = double (*)(const double* window, int stride, int* accepted);

struct PassState {
    Pass pass;
    const Lattice* lattice;
    Estimator estimate;
    double* grid;
    int w2, h2;
    double* store;
};

void estimate_row(const PassState& s, int r) {
    const RowSpan columns = target_columns(s.pass, r, s.w2, s.h2);
    for (int c = columns.first; c <= columns.last; c += 2) {
        const double* window = s.grid + static_cast<std::ptrdiff_t>(r - window_radius) * s.w2 +
                               (c - window_radius);
        double* slot = slot_of(s.store, s.w2, store_rows, r, c);
        int accepted = 0;
        s.estimate(window, s.w2, &accepted);
        if (accepted)
            keep_block(*s.lattice, block_vector, slot);
        else
            gather_block(*s.lattice, s.grid, s.w2, r, c, slot);
    }
}

// Takes rows from next_row up to last_row until none is left.
void estimate_rows(const PassState& s, std::atomic<int>* next_row, int last_row) {
    for (;;) {
        const int r = next_row->fetch_add(1);
        if (r > last_row) return;
        estimate_row(s, r);
    }
}

// Estimates rows first..last on up to `threads` threads; the calling thread
// is one of them, and does the work alone if no other thread can be started.
void estimate_band(const PassState& s, int first, int last, int threads) {
    std::atomic<int> next_row(first);
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(estimate_rows, std::cref(s), &next_row, last);
        } catch (const std::system_error&) {
            break;
        }
    }
    estimate_rows(s, &next_row, last);
    for (std::thread& helper : helpers) helper.join();
}

// Stores the accepted centres of row r: an estimator returns its block's
// centre when that lies within 0..255 and leaves the target as it is
// otherwise.  A rejected target's slot holds the target's own value, so
// storing it changes nothing.  Then fuses the row.
void finish_row(const PassState& s, int r) {
    const int centre = slot_centre(*s.lattice);
    double* row = s.grid + static_cast<std::ptrdiff_t>(r) * s.w2;
    const RowSpan targets = target_columns(s.pass, r, s.w2, s.h2);
    for (int c = targets.first; c <= targets.last; c += 2) {
        const double value = slot_of(s.store, s.w2, store_rows, r, c)[centre];
        if (centre_in_range(value)) row[c] = value;
    }
    fuse_row(*s.lattice, s.grid, s.store, s.w2, store_rows, r, fused_columns(s.pass, r, s.w2, s.h2));
}

int run_pass(Pass pass, double* grid, int w2, int h2, int threads) {
    double* store = allocate_doubles(store_doubles(w2, store_rows));
    if (!store) return -1;
    const PassState s = {pass, pass == diagonal_pass ? &diagonal_lattice : &axial_lattice,
                         pass == diagonal_pass ? estimate_diagonal : estimate_axial,
                         grid, w2, h2, store};
    const int last = last_target_row(h2);
    int finished = first_target_row - 1;  // rows up to here are stored and fused
    for (int first = first_target_row; first <= last; first += band_rows) {
        const int band_last = first + band_rows - 1 < last ? first + band_rows - 1 : last;
        estimate_band(s, first, band_last, threads);
        // Later targets gather rows from band_last - 1 on.
        const int safe = band_last == last ? h2 - 1 : band_last - fusion_reach;
        for (int r = finished + 1; r <= safe; ++r) finish_row(s, r);
        finished = safe;
    }
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
    if (run_pass(diagonal_pass, grid, w2, h2, threads) != 0) return -1;
    if (run_pass(axial_pass, grid, w2, h2, threads) != 0) return -1;
    return 0;
}

int refine_image(double* grid, int w, int h) {
    return refine_image_threads(grid, w, h, available_threads());
}
