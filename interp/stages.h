// The order of work down the image: every stage of the pipeline, what each
// waits for and how far behind the stage before it each runs.
//
// HR rows go through these stages, in order:
//
//   read               read the LR rows the next rows need into the LR ring
//   upsample           fill a row with the initial upsampling, from the LR
//                      ring alone
//   diagonal estimate  estimate the diagonal targets of a row into the
//                      diagonal store, a span of columns per job; needs the
//                      rows within window_radius upsampled
//   diagonal finish    give a row's targets their new values and fuse it;
//                      finish_lag rows behind the diagonal estimates
//   axial estimate     the same for the axial targets; needs the rows within
//                      window_radius finished by the diagonal pass
//   axial finish       finish_lag rows behind the axial estimates
//   write              hand the row on; it is then final
//
// The grid is a ring of grid_rows rows, the LR rows a ring of lr_rows rows,
// and each store a ring of store_rows slot rows: a row may be upsampled once
// the row that last used its ring row is written, an LR row read once every
// HR row made from the one it replaces is upsampled, and a row estimated
// once the last fusion that reads its slot row's previous contents is done.
// Reading and writing are done by the calling thread alone, in order, so
// that the callers' callbacks are made on their own thread; every other
// stage runs on any thread, rows (and spans) claimed in order and done in
// any order.  These functions decide from what is done so far which job a
// thread takes next; interp/upscale.cpp only keeps the schedule under a lock
// and runs the jobs.
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

// The sizes a run uses at least: enough to keep a few threads busy on each
// pass, in about 3 KB per LR column.  More threads get larger rings
// (rings_for_threads).
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

// Targets of one estimate job, at most: four batches of the estimators, long
// enough that claiming a job costs nothing beside it, short enough that a
// row of a 1024-pixel-wide image feeds four threads.
constexpr int targets_per_estimate_job = 256;

// HR rows of one upsampling job, LR rows of one reading job and HR rows of
// one writing job, at most: a few microseconds each, so that the calling
// thread, which alone reads and writes, comes back to them often.
constexpr int upsample_rows_per_job = 2;
constexpr int read_rows_per_job = 4;
constexpr int write_rows_per_job = 4;

enum JobKind { job_wait, job_done, job_read, job_upsample, job_estimate, job_finish, job_write };

// Rows first..last of one stage (LR rows for reading, HR rows otherwise);
// pass only for estimates and finishes; part only for estimates: the span
// of the row's targets (estimate_part_columns).
struct Job {
    JobKind kind;
    Pass pass;
    int first;
    int last;
    int part;
};

// A stage whose rows are claimed in order, a part at a time, and done in
// any order.
struct RowStage {
    int next_row;      // the next row to claim
    int next_part;     // its next part
    int done_through;  // every row up to here is done
    // Parts done of each row claimed beyond done_through, by row mod ring:
    // the rows claimed and not yet counted always lie within ring rows of
    // each other.
    int* parts_done;
    int ring;
};

struct Schedule {
    int w2, h2;
    int last_lr_row;
    int last_target;  // the last target row
    int grid_rows;
    int store_rows;
    int lr_rows;
    int read_through;  // every LR row up to here is read
    bool reading;
    RowStage upsample;
    RowStage estimate[2];  // by Pass
    RowStage finish[2];    // by Pass
    int written_through;
    bool writing;
};

// The ring sizes a grid h2 rows high gets when asked for grid_rows and
// store_rows: at least the fewest that always move, at most max_ring_rows,
// and no more rows than the grid has (or slot rows than it has target rows).
int grid_rows_for(int h2, int grid_rows);
int store_rows_for(int h2, int store_rows);

// LR rows of the LR ring of a w x h image with a grid ring of grid_rows
// rows: the LR rows of every HR row the grid ring holds, at most h.
int lr_rows_for(int h, int grid_rows);

// Estimate jobs in HR row r of pass `pass` (0 when it holds no targets), and
// the target columns of job `part` of them.
int estimate_parts(Pass pass, int r, int w2, int h2);
RowSpan estimate_part_columns(Pass pass, int r, int w2, int h2, int part);

// The counters start_schedule needs: rows of the rings as the run has them.
int schedule_counters(int grid_rows, int store_rows);

// Rings with which `threads` threads on an image w LR pixels wide always
// find at least `threads` estimate jobs of each pass to claim while the
// rows before them are finished: enough slot rows for that many jobs beyond
// the finish_lag and fusion_reach a pass needs, and grid rows for both
// passes' rows in flight, their lags and an upsampling lead.  Never below
// the default sizes; grid_rows_for and store_rows_for fit them to a grid.
int store_rows_for_threads(int threads, int w);
int grid_rows_for_threads(int threads, int w);

// Starts the schedule of a w2 x h2 grid, before anything is done, with
// rings of grid_rows, store_rows and lr_rows_for(h2 / 2, grid_rows) rows;
// counters holds schedule_counters(grid_rows, store_rows) ints.
void start_schedule(Schedule* schedule, int w2, int h2, int grid_rows, int store_rows,
                    int* counters);

// The next job for a thread, claimed in the schedule: job_wait when every job
// there is must wait for one under way, job_done when the grid is written.
// Only the thread that reads and writes (io_thread) takes reading and
// writing jobs: the callers' callbacks are made on the thread that called.
Job next_job(Schedule* schedule, bool io_thread);

// Records that job is done.
void complete_job(Schedule* schedule, const Job& job);

// Whether next_job would give the thread that reads and writes a reading or
// writing job: the other threads wake it when it waits and one is there.
bool has_io_job(const Schedule& schedule);

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
