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
// and fusions reach two rows up and down, so a pass sweeps down the grid:
// threads take rows in order, each with its own estimator scratch, and the
// rows that no later target can see are stored and fused once the rows a
// little below them are estimated (finish_lag); their slots then serve rows
// further down.  The store holds a few dozen slot rows instead of the whole grid,
// and the result is the same bits for any number of threads.
#include "interp/refine.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "interp/acceptance.h"
#include "interp/block_store.h"
#include "interp/estimator.h"
#include "interp/grid.h"
#include "interp/pass_area.h"
#include "interp/sweep.h"
#include "platform/platform.h"

namespace {

constexpr int max_threads = 256;
// Targets handed to the estimators at once: enough to fill most batches of
// block systems with the targets whose fit is regular.
constexpr int targets_per_call = 64;

struct PassState {
    Pass pass;
    const Lattice* lattice;
    double* grid;
    int w2, h2;
    double* store;
    int store_rows;
};

void estimate_row(const PassState& s, int r) {
    const RowSpan columns = target_columns(s.pass, r, s.w2, s.h2);
    const double* windows[targets_per_call];
    int accepted[targets_per_call];
    double blocks[targets_per_call][block_size];
    for (int first = columns.first; first <= columns.last; first += 2 * targets_per_call) {
        int count = 0;
        for (int c = first; c <= columns.last && count < targets_per_call; c += 2)
            windows[count++] = s.grid + static_cast<std::ptrdiff_t>(r - window_radius) * s.w2 +
                               (c - window_radius);
        estimate_batch(*s.lattice, windows, count, s.w2, accepted, blocks);
        for (int t = 0; t < count; ++t) {
            const int c = first + 2 * t;
            double* slot = slot_of(s.store, s.w2, s.store_rows, r, c);
            if (accepted[t])
                keep_block(*s.lattice, blocks[t], slot);
            else
                gather_block(*s.lattice, s.grid, s.w2, r, c, slot);
        }
    }
}

// Gives the targets of row r their new values from the centres of their
// blocks.  A rejected target's slot holds the target's own value, so that
// changes nothing.  Then fuses the row.
void finish_row(const PassState& s, int r) {
    const int centre = slot_centre(*s.lattice);
    double* row = s.grid + static_cast<std::ptrdiff_t>(r) * s.w2;
    const RowSpan targets = target_columns(s.pass, r, s.w2, s.h2);
    for (int c = targets.first; c <= targets.last; c += 2)
        row[c] = target_value(slot_of(s.store, s.w2, s.store_rows, r, c)[centre], row[c]);
    fuse_row(*s.lattice, s.grid, s.store, s.w2, s.store_rows, r,
             fused_columns(s.pass, r, s.w2, s.h2));
}

// The sweep of one pass, on as many threads as call sweep_rows (see
// interp/sweep.h for the order of work).  Rows are finished by whichever
// thread completes the row that allows it, unless another is already at
// it, outside the lock, so that the others go on claiming and estimating
// rows meanwhile.
struct Sweep {
    const PassState* s;
    int last;  // the last target row
    std::mutex lock;
    std::condition_variable room;
    int next_row;                 // the next row to claim
    std::vector<char> estimated;  // estimated rows
    int estimated_through;        // every row up to here is estimated
    int finished_through;         // every row up to here is stored and fused
    bool finishing;               // a thread is storing and fusing rows
};

void sweep_rows(Sweep* w) {
    const PassState& s = *w->s;
    for (;;) {
        int r;
        {
            std::unique_lock<std::mutex> hold(w->lock);
            w->room.wait(hold, [w, &s] {
                return w->next_row > w->last ||
                       may_claim(w->next_row, w->finished_through, s.store_rows);
            });
            if (w->next_row > w->last) return;
            r = w->next_row++;
        }
        estimate_row(s, r);
        std::unique_lock<std::mutex> hold(w->lock);
        w->estimated[static_cast<std::size_t>(r)] = 1;
        w->estimated_through =
            advance_estimated(w->estimated.data(), w->estimated_through, w->last);
        if (w->finishing) continue;
        w->finishing = true;
        for (;;) {
            const int through = finishable_through(w->estimated_through, w->last, s.h2);
            if (w->finished_through >= through) break;
            const int from = w->finished_through + 1;
            hold.unlock();
            for (int row = from; row <= through; ++row) finish_row(s, row);
            hold.lock();
            w->finished_through = through;
            w->room.notify_all();
        }
        w->finishing = false;
    }
}

int run_pass(Pass pass, double* grid, int w2, int h2, int threads, int store_rows) {
    if (last_target_row(h2) < first_target_row) return 0;
    double* store = allocate_doubles(store_doubles(w2, store_rows));
    if (!store) return -1;
    const PassState s = {
        pass,      pass == diagonal_pass ? &diagonal_lattice : &axial_lattice, grid, w2, h2, store,
        store_rows};
    Sweep sweep;
    sweep.s = &s;
    sweep.last = last_target_row(h2);
    sweep.next_row = first_target_row;
    sweep.estimated.assign(static_cast<std::size_t>(h2), 0);
    sweep.estimated_through = first_target_row - 1;
    sweep.finished_through = first_target_row - 1;
    sweep.finishing = false;

    // The calling thread is one of the workers, and does the work alone if
    // no other thread can be started.
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(sweep_rows, &sweep);
        } catch (const std::system_error&) {
            break;
        }
    }
    sweep_rows(&sweep);
    for (std::thread& helper : helpers) helper.join();
    free_doubles(store);
    return 0;
}

}  // namespace

int available_threads() {
    const int count = platform_processor_count();
    return count < max_threads ? count : max_threads;
}

int refine_image_threads(double* grid, int w, int h, int threads, int store_rows) {
    const int w2 = 2 * w, h2 = 2 * h;
    if (threads < 1) threads = 1;
    if (threads > max_threads) threads = max_threads;
    if (store_rows < min_store_rows) store_rows = min_store_rows;
    if (run_pass(diagonal_pass, grid, w2, h2, threads, store_rows) != 0) return -1;
    if (run_pass(axial_pass, grid, w2, h2, threads, store_rows) != 0) return -1;
    return 0;
}

int refine_image(double* grid, int w, int h) {
    return refine_image_threads(grid, w, h, available_threads());
}
