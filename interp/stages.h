// The order of work down the image: every stage of the pipeline, what each
// waits for and how far behind the stage before it each runs.
//
// HR rows go through six stages, in order:
//
//   upsample           read the LR rows a row needs and fill it with the
//                      initial upsampling
//   diagonal estimate  estimate the diagonal targets of a row into the
//                      diagonal store; needs the rows within window_radius
//                      upsampled
//   diagonal finish    give a row's targets their new values and fuse it;
//                      finish_lag rows behind the diagonal estimates
//   axial estimate     the same for the axial targets; needs the rows within
//                      window_radius finished by the diagonal pass
//   axial finish       finish_lag rows behind the axial estimates
//   write              hand the row on; it is then final
//
// The grid is a ring of grid_rows rows and each store a ring of store_rows
// slot rows: a row may be upsampled once the row that last used its ring
// row is written, and estimated once the last fusion that reads its slot
// row's previous contents is done.  Estimates run on every thread, a row
// each; every other stage is run by one thread at a time, rows strictly in
// order, and upsampling and writing by the calling thread alone.  These functions decide from the
// progress so far which job a thread takes next; interp/upscale.cpp only keeps the progress under a
// lock and runs the jobs.
#ifndef QUILLMORPH_INTERP_STAGES_H
#define QUILLMORPH_INTERP_STAGES_H

#include "interp/lattice.h"
#include "interp/pass_area.h"

namespace quillmorph {

// A fusion reads the slots of the targets up to two rows above and below
// its cell, and a rejected target's gather reads its pass's cells as far.
constexpr int fusion_reach = 2;

// An estimator reads the rows within window_radius of its target: those
// must hold their final values from the stage before.
constexpr int estimate_lead = window_radius;

// Rows are finished this far behind the estimated rows.  Only the gathers
// of the targets still to come need pre-pass values there, fusion_reach
// rows up; the estimators read no cell their own pass writes.  The longer
// lag keeps the writes out of the cache lines that other threads' windows,
// reaching window_radius rows up, are reading.
constexpr int finish_lag = window_radius + 1;

// The fewest slot rows with which a single thread can always claim the row
// after the one it finished: row r may be claimed once row
// r - store_rows + fusion_reach is finished, and the rows finished trail the
// estimated ones by finish_lag.
constexpr int min_store_rows = finish_lag + fusion_reach + 1;

// The fewest grid rows with which the pipeline always moves: to write row
// r, the diagonal pass must have estimated row r + 2 finish_lag +
// estimate_lead, which needs the rows estimate_lead further down
// upsampled, all while row r still holds its ring row.
constexpr int min_grid_rows = 2 * finish_lag + 2 * estimate_lead + 1;

// The sizes a run uses unless told otherwise: a few dozen rows, enough to
// keep several threads busy on each pass, in about 3 KB per LR column.
constexpr int default_grid_rows = 48;
constexpr int default_store_rows = 16;

// How far an HR cell's value reaches, in cells: it depends on no LR pixel
// farther than this in rows or columns.  A cell's final value is the axial
// pass's fusion of the blocks of the axial targets within fusion_reach of
// it; each of those estimates reads the window_radius around its target, of
// cells final from the diagonal pass; each of those is the diagonal fusion of
// the blocks of diagonal targets within fusion_reach; and each diagonal
// estimate reads LR pixels within window_radius of its target.  The other
// paths are shorter: the initial upsampling reads LR pixels 3 cells away,
// and a rejected target's gather reads no farther than its block.
constexpr int halo_cells = 2 * (fusion_reach + window_radius);
// The same in LR pixels, from the LR pixel at or before the cell (an odd
// cell reaches one pixel less on its left side).
constexpr int halo_lr_pixels = halo_cells / 2;

// Larger rings buy nothing; the bound keeps their byte sizes easy to check.
constexpr int max_ring_rows = 4096;

// Rows of the grid upsampled in one job: each reads about one LR row.
constexpr int upsample_rows_per_job = 2;

enum JobKind { job_wait, job_done, job_upsample, job_estimate, job_finish, job_write };

// Rows first..last of one stage; pass only for estimates and finishes.
struct Job {
    JobKind kind;
    Pass pass;
    int first;
    int last;
};

struct PassProgress {
    int next_row;           // the next target row to claim
    int estimated_through;  // every target row up to here is estimated
    int finished_through;   // every row up to here is finished
    bool finishing;         // a thread is finishing rows
    // Flags of the rows estimated beyond estimated_through, by row mod
    // store_rows: the rows claimed and not yet counted always lie within
    // store_rows of each other.
    char* estimated;
};

struct Progress {
    int h2;
    int last_target;  // the last target row
    int grid_rows;
    int store_rows;
    int upsampled_through;
    bool upsampling;
    PassProgress pass[2];  // by Pass
    int written_through;
    bool writing;
};

// The ring sizes a grid h2 rows high gets when asked for grid_rows and
// store_rows: at least the fewest that always move, at most max_ring_rows,
// and no more rows than the grid has (or slot rows than it has target rows).
int grid_rows_for(int h2, int grid_rows);
int store_rows_for(int h2, int store_rows);

// Starts the progress of a grid h2 rows high, before anything is done.
// estimated[pass] point to store_rows flags each.
void start_progress(Progress* progress, int h2, int grid_rows, int store_rows,
                    char* const estimated[2]);

// The next job for a thread, claimed in progress: job_wait when every job
// there is must wait for one under way, job_done when the grid is written.
// Only the thread that reads and writes (io_thread) takes upsampling jobs,
// which read the LR rows, and writing jobs: the callers' callbacks are made
// on the thread that called.
Job next_job(Progress* progress, bool io_thread);

// Records that job is done.
void complete_job(Progress* progress, const Job& job);

// Row `row` fills slot row row mod store_rows, which last held the slots of
// row - store_rows, if that is a target row; the last fusion to read those
// is that of row row - store_rows + fusion_reach.  True once that row is
// finished.
inline bool may_claim(int row, int finished_through, int store_rows) {
    return row - store_rows < first_target_row ||
           row - store_rows + fusion_reach <= finished_through;
}

// The last row that may be finished when every target row through
// estimated_through is estimated: finish_lag rows behind, or every row of
// the grid once the last target row is estimated.
inline int finishable_through(int estimated_through, int last_target, int h2) {
    return estimated_through >= last_target ? h2 - 1 : estimated_through - finish_lag;
}

}  // namespace quillmorph

#endif
