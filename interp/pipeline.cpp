// The jobs of the pipeline, each on its rows of the rings.
//
// Each refinement pass estimates every target, keeping an accepted block
// estimate in the target's slot and gathering the pre-pass values of a
// rejected target's block instead; then gives the targets of each row their
// new values and replaces the cells of its fused area by the mean of the
// nine block estimates that cover each.  The diagonal pass reads only LR
// pixels and its own cells; the axial pass reads what the diagonal pass
// left in the diagonal cells.
#include "interp/pipeline.h"

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "interp/acceptance.h"
#include "interp/block_store.h"
#include "interp/estimator.h"
#include "interp/grid.h"
#include "interp/upsample.h"

namespace quillmorph {

namespace {

// Targets handed to the estimators at once: enough to fill most batches of
// block systems with the targets whose fit is regular.
constexpr int targets_per_call = 64;

std::size_t lr_ring_bytes(int w, int lr_rows, SampleFormat samples) {
    return static_cast<std::size_t>(lr_rows) * static_cast<std::size_t>(w) *
           static_cast<std::size_t>(samples.bytes);
}

std::size_t counter_bytes(int grid_rows, int store_rows) {
    return static_cast<std::size_t>(schedule_counters(grid_rows, store_rows)) * sizeof(int);
}

const Lattice& lattice_of(Pass pass) {
    return pass == diagonal_pass ? diagonal_lattice : axial_lattice;
}

bool read_rows(const Pipeline& p, int first, int last) {
    const std::ptrdiff_t row_bytes = static_cast<std::ptrdiff_t>(p.w) * p.samples.bytes;
    for (int i = first; i <= last; ++i) {
        void* row = static_cast<unsigned char*>(p.lr) + (i % p.lr_rows) * row_bytes;
        if (p.source.read_row(p.source.context, row) != 0) return false;
    }
    return true;
}

template <typename Sample>
void upsample_rows(const Pipeline& p, int first, int last) {
    const Sample* lr = static_cast<const Sample*>(p.lr);
    for (int r = first; r <= last; ++r) {
        upsample_row(p.w, p.h, lr, p.lr_rows, r, p.samples.maxval, ring_row(p.grid, r));
        repeat_row(p.grid, r);
    }
}

void estimate_span(const Pipeline& p, Estimator& estimator, Pass pass, int r, RowSpan columns) {
    const Lattice& lattice = lattice_of(pass);
    const double* window_rows = ring_row(p.grid, r - window_radius);
    const double* windows[targets_per_call];
    int accepted[targets_per_call];
    double blocks[targets_per_call][block_size];
    for (int first = columns.first; first <= columns.last; first += 2 * targets_per_call) {
        int count = 0;
        for (int c = first; c <= columns.last && count < targets_per_call; c += 2)
            windows[count++] = window_rows + (c - window_radius);
        estimate_batch(estimator, lattice, windows, count, p.w2, accepted, blocks);
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
        row[c] = target_value(slot_of(store, p.w2, p.store_rows, r, c)[centre], row[c],
                              p.samples.maxval);
    fuse_row(lattice, row, store, p.w2, p.store_rows, r, fused_columns(pass, r, p.w2, p.h2));
    repeat_cells(p.grid, r, targets);  // the fused cells are among the targets
}

bool write_rows(const Pipeline& p, int first, int last) {
    for (int r = first; r <= last; ++r)
        if (p.sink.write_row(p.sink.context, ring_row(p.grid, r)) != 0) return false;
    return true;
}

// Returns false when the job's reading or writing failed.
bool run_job_in(const Pipeline& p, const Job& job, Estimator& estimator) {
    switch (job.kind) {
        case job_read:
            return read_rows(p, job.first, job.last);
        case job_upsample:
            if (p.samples.bytes == 1)
                upsample_rows<unsigned char>(p, job.first, job.last);
            else
                upsample_rows<std::uint16_t>(p, job.first, job.last);
            return true;
        case job_estimate:
            estimate_span(p, estimator, job.pass, job.first,
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

}  // namespace

bool run_job(const Pipeline& p, const Job& job, Estimator& estimator) {
    return run_job_in(p, job, estimator);
}

std::size_t ring_bytes_per_lr_column(int h, SampleFormat samples, RingSizes rings) {
    // Two HR columns of the grid ring, one slot column of each store.
    const int h2 = 2 * h;
    const int grid_rows = grid_rows_for(h2, rings.grid_rows);
    const int store_rows = store_rows_for(h2, rings.store_rows);
    return (ring_doubles(2, h2, grid_rows) + 2 * store_doubles(2, store_rows)) * sizeof(double) +
           lr_ring_bytes(1, lr_rows_for(h, grid_rows), samples);
}

bool rings_fit(int w, int h, SampleFormat samples, RingSizes rings) {
    const auto largest = static_cast<std::size_t>(PTRDIFF_MAX);
    return static_cast<std::size_t>(w) <= largest / ring_bytes_per_lr_column(h, samples, rings);
}

std::size_t upscale_bytes(int w, int h, SampleFormat samples, RunLayout layout) {
    const int h2 = 2 * h;
    const int grid_rows = grid_rows_for(h2, layout.rings.grid_rows);
    const int store_rows = store_rows_for(h2, layout.rings.store_rows);
    return static_cast<std::size_t>(w) * ring_bytes_per_lr_column(h, samples, layout.rings) +
           static_cast<std::size_t>(layout.threads) * sizeof(Estimator) +
           counter_bytes(grid_rows, store_rows);
}

bool start_pipeline(Pipeline* pipeline, int w, int h, SampleFormat samples, LrRowSource source,
                    HrRowSink sink, RunLayout layout) {
    Pipeline& p = *pipeline;
    p.w = w, p.h = h, p.w2 = 2 * w, p.h2 = 2 * h;
    p.samples = samples;
    p.source = source;
    p.sink = sink;
    p.store_rows = store_rows_for(p.h2, layout.rings.store_rows);
    const int grid_rows = grid_rows_for(p.h2, layout.rings.grid_rows);
    p.lr_rows = lr_rows_for(h, grid_rows);
    double* cells = allocate_doubles(ring_doubles(p.w2, p.h2, grid_rows));
    p.grid = make_row_ring(cells, p.w2, p.h2, grid_rows);
    p.lr = std::malloc(lr_ring_bytes(w, p.lr_rows, samples));
    for (Pass pass : {diagonal_pass, axial_pass})
        p.stores[pass] = allocate_doubles(store_doubles(p.w2, p.store_rows));
    p.estimators = new_estimators(layout.threads, samples.maxval);
    p.counters = static_cast<int*>(std::malloc(counter_bytes(grid_rows, p.store_rows)));
    if (!cells || !p.lr || !p.stores[0] || !p.stores[1] || !p.estimators || !p.counters) {
        end_pipeline(&p);
        return false;
    }
    start_schedule(&p.schedule, p.w2, p.h2, grid_rows, p.store_rows, p.counters);
    return true;
}

void end_pipeline(Pipeline* p) {
    std::free(p->counters);
    free_estimators(p->estimators);
    free_doubles(p->stores[1]);
    free_doubles(p->stores[0]);
    std::free(p->lr);
    free_doubles(p->grid.cells);
}

}  // namespace quillmorph
