// The pipeline down the image.
//
// The stages, their order and their lags are in interp/stages.h.  Each
// refinement pass estimates every target, keeping an accepted block
// estimate in the target's slot and gathering the pre-pass values of a
// rejected target's block instead; then gives the targets of each row their
// new values and replaces the cells of its fused area by the mean of the
// nine block estimates that cover each.  The diagonal pass reads only LR
// pixels and its own cells; the axial pass reads what the diagonal pass
// left in the diagonal cells.
//
// The order of the targets does not change any result: an estimator reads
// only cells of other classes and its own target, a target writes only its
// own slot, and a fusion reads only slots.  What matters is that every cell
// a gather or an estimator reads holds the right stage's value, which the
// order of the stages guarantees; so the result is the same bits for any
// number of threads and any ring sizes.
#include "interp/upscale.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "interp/acceptance.h"
#include "interp/block_store.h"
#include "interp/estimator.h"
#include "interp/grid.h"
#include "interp/row_ring.h"
#include "interp/stages.h"
#include "interp/upsample.h"
#include "platform/processors.h"

namespace quillmorph {

namespace {

constexpr int max_threads = 256;
// Targets handed to the estimators at once: enough to fill most batches of
// block systems with the targets whose fit is regular.
constexpr int targets_per_call = 64;

struct Pipeline {
    int w, h, w2, h2;
    LrRowSource source;
    HrRowSink sink;
    unsigned char* lr;  // a ring of lr_rows LR rows
    int lr_rows;
    RowRing grid;
    double* stores[2];  // by Pass
    int store_rows;

    std::mutex lock;
    std::condition_variable progress_made;
    Progress progress;
    UpscaleStatus status;
};

const Lattice& lattice_of(Pass pass) {
    return pass == diagonal_pass ? diagonal_lattice : axial_lattice;
}

bool read_rows(const Pipeline& p, int first, int last) {
    for (int i = first; i <= last; ++i) {
        unsigned char* row = p.lr + static_cast<std::ptrdiff_t>(i % p.lr_rows) * p.w;
        if (p.source.read_row(p.source.context, row) != 0) return false;
    }
    return true;
}

void upsample_rows(const Pipeline& p, int first, int last) {
    for (int r = first; r <= last; ++r) {
        upsample_row(p.w, p.h, p.lr, p.lr_rows, r, ring_row(p.grid, r));
        repeat_row(p.grid, r);
    }
}

void estimate_span(const Pipeline& p, Pass pass, int r, RowSpan columns) {
    const Lattice& lattice = lattice_of(pass);
    const double* window_rows = ring_row(p.grid, r - window_radius);
    const double* windows[targets_per_call];
    int accepted[targets_per_call];
    double blocks[targets_per_call][block_size];
    for (int first = columns.first; first <= columns.last; first += 2 * targets_per_call) {
        int count = 0;
        for (int c = first; c <= columns.last && count < targets_per_call; c += 2)
            windows[count++] = window_rows + (c - window_radius);
        estimate_batch(lattice, windows, count, p.w2, accepted, blocks);
        for (int t = 0; t < count; ++t) {
            double* slot = slot_of(p.stores[pass], p.w2, p.store_rows, r, first + 2 * t);
            if (accepted[t])
                keep_block(lattice, blocks[t], slot);
            else
                gather_block(lattice, windows[t], p.w2, slot);
        }
    }
}

// Gives the targets of row r their new values from the centres of their
// blocks (a rejected target's slot holds the target's own value, so that
// changes nothing), then fuses the row.
void finish_row(const Pipeline& p, Pass pass, int r) {
    const Lattice& lattice = lattice_of(pass);
    const double* store = p.stores[pass];
    const int centre = slot_centre(lattice);
    double* row = ring_row(p.grid, r);
    const RowSpan targets = target_columns(pass, r, p.w2, p.h2);
    for (int c = targets.first; c <= targets.last; c += 2)
        row[c] = target_value(slot_of(store, p.w2, p.store_rows, r, c)[centre], row[c]);
    fuse_row(lattice, row, store, p.w2, p.store_rows, r, fused_columns(pass, r, p.w2, p.h2));
    repeat_cells(p.grid, r, targets);  // the fused cells are among the targets
}

bool write_rows(const Pipeline& p, int first, int last) {
    for (int r = first; r <= last; ++r)
        if (p.sink.write_row(p.sink.context, ring_row(p.grid, r)) != 0) return false;
    return true;
}

// Returns false when the job's reading or writing failed.
bool run_job(Pipeline& p, const Job& job) {
    switch (job.kind) {
        case job_read:
            return read_rows(p, job.first, job.last);
        case job_upsample:
            upsample_rows(p, job.first, job.last);
            return true;
        case job_estimate:
            estimate_span(p, job.pass, job.first,
                          estimate_part_columns(job.pass, job.first, p.w2, p.h2, job.part));
            return true;
        case job_finish:
            for (int r = job.first; r <= job.last; ++r) finish_row(p, job.pass, r);
            return true;
        case job_write:
            return write_rows(p, job.first, job.last);
        case job_wait:
        case job_done:
            break;
    }
    return true;
}

// The work of one thread: jobs are chosen and recorded under the lock, and
// run outside it, so that the others go on meanwhile.  A failed read or
// write stops every thread once its job in hand is done.
void work(Pipeline* p, bool io_thread) {
    std::unique_lock<std::mutex> hold(p->lock);
    while (p->status == upscale_ok) {
        const Job job = next_job(&p->progress, io_thread);
        if (job.kind == job_done) return;
        if (job.kind == job_wait) {
            p->progress_made.wait(hold);
            continue;
        }
        hold.unlock();
        const bool done = run_job(*p, job);
        hold.lock();
        if (done)
            complete_job(&p->progress, job);
        else
            p->status = job.kind == job_write ? upscale_write_failed : upscale_read_failed;
        p->progress_made.notify_all();
    }
}

void help(Pipeline* p) { work(p, false); }

// The calling thread is one of the workers, the one that reads and writes,
// and does the work alone if no other thread can be started.
void run_threads(Pipeline* p, int threads) {
    std::thread helpers[max_threads];
    int started = 0;
    for (; started < threads - 1; ++started) {
        try {
            helpers[started] = std::thread(help, p);
        } catch (...) {  // std::system_error, or std::bad_alloc for its state
            break;
        }
    }
    work(p, true);
    for (int t = 0; t < started; ++t) helpers[t].join();
}

std::size_t lr_ring_bytes(int w, int lr_rows) {
    return static_cast<std::size_t>(lr_rows) * static_cast<std::size_t>(w);
}

std::size_t counter_bytes(int grid_rows, int store_rows) {
    return static_cast<std::size_t>(progress_counters(grid_rows, store_rows)) * sizeof(int);
}

// A whole image in memory, as a source and a sink.
struct ImageRows {
    const unsigned char* lr;
    double* hr;
    std::size_t lr_row_bytes, hr_row_cells;
    std::size_t rows_read, rows_written;
};

int read_image_row(void* context, unsigned char* row) {
    ImageRows& image = *static_cast<ImageRows*>(context);
    const unsigned char* from = image.lr + image.rows_read++ * image.lr_row_bytes;
    std::copy(from, from + image.lr_row_bytes, row);
    return 0;
}

int write_image_row(void* context, const double* row) {
    ImageRows& image = *static_cast<ImageRows*>(context);
    std::copy(row, row + image.hr_row_cells, image.hr + image.rows_written++ * image.hr_row_cells);
    return 0;
}

}  // namespace

int available_threads() {
    const int count = platform_processor_count();
    return count < max_threads ? count : max_threads;
}

RingSizes rings_for_threads(int threads, int w) {
    return RingSizes{grid_rows_for_threads(threads, w), store_rows_for_threads(threads, w)};
}

std::size_t upscale_bytes(int w, int h, RingSizes rings) {
    const int w2 = 2 * w, h2 = 2 * h;
    const int grid_rows = grid_rows_for(h2, rings.grid_rows);
    const int store_rows = store_rows_for(h2, rings.store_rows);
    const std::size_t grid = ring_doubles(w2, h2, grid_rows);
    const std::size_t store = store_doubles(w2, store_rows);
    return (grid + 2 * store) * sizeof(double) + lr_ring_bytes(w, lr_rows_for(h, grid_rows)) +
           counter_bytes(grid_rows, store_rows);
}

UpscaleStatus upscale_rows(int w, int h, LrRowSource source, HrRowSink sink, int threads,
                           RingSizes rings) {
    if (w < min_image_side || h < min_image_side) return upscale_bad_size;
    if (!image_size_supported(w, h)) return upscale_too_large;
    Pipeline p;
    p.w = w, p.h = h, p.w2 = 2 * w, p.h2 = 2 * h;
    p.source = source;
    p.sink = sink;
    p.store_rows = store_rows_for(p.h2, rings.store_rows);
    const int grid_rows = grid_rows_for(p.h2, rings.grid_rows);
    p.lr_rows = lr_rows_for(h, grid_rows);
    double* cells = allocate_doubles(ring_doubles(p.w2, p.h2, grid_rows));
    p.lr = static_cast<unsigned char*>(std::malloc(lr_ring_bytes(w, p.lr_rows)));
    for (Pass pass : {diagonal_pass, axial_pass})
        p.stores[pass] = allocate_doubles(store_doubles(p.w2, p.store_rows));
    auto* counters = static_cast<int*>(std::malloc(counter_bytes(grid_rows, p.store_rows)));

    p.status = upscale_no_memory;
    if (cells && p.lr && p.stores[0] && p.stores[1] && counters) {
        p.grid = make_row_ring(cells, p.w2, p.h2, grid_rows);
        start_progress(&p.progress, p.w2, p.h2, grid_rows, p.store_rows, counters);
        p.status = upscale_ok;
        if (threads < 1) threads = 1;
        run_threads(&p, threads < max_threads ? threads : max_threads);
    }
    std::free(counters);
    free_doubles(p.stores[1]);
    free_doubles(p.stores[0]);
    std::free(p.lr);
    free_doubles(cells);
    return p.status;
}

UpscaleStatus upscale_stream(int w, int h, LrRowSource source, HrRowSink sink) {
    const int threads = available_threads();
    return upscale_rows(w, h, source, sink, threads, rings_for_threads(threads, w));
}

UpscaleStatus upscale_image(const unsigned char* lr, int w, int h, double* hr, int threads,
                            RingSizes rings) {
    ImageRows image = {lr, hr, static_cast<std::size_t>(w), 2 * static_cast<std::size_t>(w), 0, 0};
    return upscale_rows(w, h, LrRowSource{read_image_row, &image},
                        HrRowSink{write_image_row, &image}, threads, rings);
}

}  // namespace quillmorph
