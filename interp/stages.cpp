#include "interp/stages.h"

#include "interp/upsample.h"

namespace quillmorph {

namespace {

constexpr Pass passes_downstream_first[] = {axial_pass, diagonal_pass};

int clamp_rows(int rows, int least) {
    if (rows < least) return least;
    return rows < max_ring_rows ? rows : max_ring_rows;
}

int min_int(int a, int b) { return a < b ? a : b; }
int max_int(int a, int b) { return a > b ? a : b; }
int ceil_div(int a, int b) { return (a + b - 1) / b; }

// The last row whose cells hold their final values from the stage before
// the pass: the initial upsampling for the diagonal pass, the diagonal pass
// for the axial one.
int ready_through(const Schedule& p, Pass pass) {
    return pass == diagonal_pass ? p.upsample.done_through : p.finish[diagonal_pass].done_through;
}

// The HR rows of every LR row through i are made from LR rows through
// i + lr_rows_below at most, and LR row i is read by HR rows through
// 2 (i + lr_rows_above) + 1 at most (interp/upsample.h).
int lr_rows_needed_through(const Schedule& p, int hr_row) {
    return min_int(hr_row / 2 + lr_rows_below, p.last_lr_row);
}
int last_hr_row_reading(const Schedule& p, int lr_row) {
    return min_int(2 * (lr_row + lr_rows_above) + 1, p.h2 - 1);
}

// Parts of row r in a stage: the spans of its targets for an estimate, one
// for a row a finish changes or a row to upsample, none for a row a pass
// leaves as it is.
int parts_of(const Schedule& p, JobKind kind, Pass pass, int r) {
    if (kind == job_estimate) return estimate_parts(pass, r, p.w2, p.h2);
    if (kind != job_finish) return 1;
    const RowSpan targets = target_columns(pass, r, p.w2, p.h2);
    return targets.first <= targets.last ? 1 : 0;
}

int& parts_done(RowStage& s, int r) { return s.parts_done[r % s.ring]; }

// Counts the rows all of whose parts are done, in order.
void count_done(const Schedule& p, RowStage& s, JobKind kind, Pass pass) {
    while (s.done_through + 1 < s.next_row &&
           parts_done(s, s.done_through + 1) == parts_of(p, kind, pass, s.done_through + 1))
        ++s.done_through;
}

// Claims the next part of row s.next_row, which the caller has found
// claimable, and returns its number.  A row without parts is done at once.
int claim_part(const Schedule& p, RowStage& s, JobKind kind, Pass pass) {
    const int r = s.next_row;
    const int parts = parts_of(p, kind, pass, r);
    if (s.next_part == 0) parts_done(s, r) = 0;
    const int part = s.next_part;
    if (part + 1 >= parts) {
        ++s.next_row;
        s.next_part = 0;
    } else {
        ++s.next_part;
    }
    if (parts == 0) count_done(p, s, kind, pass);
    return part;
}

// The last row a pass may finish: its estimates lie finish_lag rows further
// down, and the stage before has finished it.
int finish_through(const Schedule& p, Pass pass) {
    return min_int(finishable_through(p.estimate[pass].done_through, p.last_target, p.h2),
                   ready_through(p, pass));
}

bool may_estimate(const Schedule& p, Pass pass, int r) {
    return r <= p.last_target && r + estimate_lead <= ready_through(p, pass) &&
           may_claim(r, p.finish[pass].done_through, p.store_rows);
}

// Rows a pass leaves as they are (no targets, or none in a row of the
// diagonal pass) take no job: they are counted done as soon as they could
// be claimed, which may let the other pass's rows through in turn.
void pass_rows_without_parts(Schedule& p) {
    for (bool moved = true; moved;) {
        moved = false;
        for (Pass pass : passes_downstream_first) {
            RowStage& finish = p.finish[pass];
            while (finish.next_row <= finish_through(p, pass) &&
                   parts_of(p, job_finish, pass, finish.next_row) == 0) {
                claim_part(p, finish, job_finish, pass);
                moved = true;
            }
            RowStage& estimate = p.estimate[pass];
            while (estimate.next_part == 0 && may_estimate(p, pass, estimate.next_row) &&
                   parts_of(p, job_estimate, pass, estimate.next_row) == 0) {
                claim_part(p, estimate, job_estimate, pass);
                moved = true;
            }
        }
    }
}

void start_stage(RowStage* stage, int first_row, int* counters, int ring) {
    *stage = RowStage{first_row, 0, first_row - 1, counters, ring};
}

Job make_job(JobKind kind, Pass pass, int first, int last, int part = 0) {
    return Job{kind, pass, first, last, part};
}

}  // namespace

int store_rows_for(int h2, int store_rows) {
    const int target_rows = last_target_row(h2) - first_target_row + 1;
    const int rows = clamp_rows(store_rows, min_store_rows);
    if (target_rows < 1) return 1;
    return min_int(rows, target_rows);
}

int grid_rows_for(int h2, int grid_rows) {
    return min_int(clamp_rows(grid_rows, min_grid_rows), h2);
}

int lr_rows_for(int h, int grid_rows) { return min_int(grid_rows / 2 + lr_rows_per_hr_row, h); }

int estimate_parts(Pass pass, int r, int w2, int h2) {
    const RowSpan targets = target_columns(pass, r, w2, h2);
    if (targets.first > targets.last) return 0;
    return ceil_div((targets.last - targets.first) / 2 + 1, targets_per_estimate_job);
}

RowSpan estimate_part_columns(Pass pass, int r, int w2, int h2, int part) {
    const RowSpan targets = target_columns(pass, r, w2, h2);
    const int first = targets.first + 2 * targets_per_estimate_job * part;
    return RowSpan{first, min_int(first + 2 * (targets_per_estimate_job - 1), targets.last)};
}

int store_rows_for_threads(int threads, int w) {
    // A diagonal row holds about w targets, and every other row holds them.
    const int jobs_per_row = max_int(1, ceil_div(w, targets_per_estimate_job));
    const int rows_in_flight = 2 * ceil_div(max_int(threads, 1), jobs_per_row);
    return clamp_rows(max_int(default_store_rows, min_store_rows + rows_in_flight + 1),
                      min_store_rows);
}

int grid_rows_for_threads(int threads, int w) {
    // Each pass's rows in flight, and as many again upsampled ahead, so that
    // the calling thread may run a job of its own between two reads.
    const int rows_in_flight = store_rows_for_threads(threads, w) - min_store_rows;
    return clamp_rows(max_int(default_grid_rows, min_grid_rows + 3 * rows_in_flight),
                      min_grid_rows);
}

int schedule_counters(int grid_rows, int store_rows) { return 3 * grid_rows + 2 * store_rows; }

void start_schedule(Schedule* schedule, int w2, int h2, int grid_rows, int store_rows,
                    int* counters) {
    Schedule& p = *schedule;
    p.w2 = w2;
    p.h2 = h2;
    p.last_lr_row = h2 / 2 - 1;
    p.last_target = last_target_row(h2);
    p.grid_rows = grid_rows;
    p.store_rows = store_rows;
    p.lr_rows = lr_rows_for(h2 / 2, grid_rows);
    p.read_through = -1;
    p.reading = false;
    start_stage(&p.upsample, 0, counters, grid_rows);
    for (Pass pass : passes_downstream_first) {
        start_stage(&p.estimate[pass], first_target_row,
                    counters + 3 * grid_rows + pass * store_rows, store_rows);
        start_stage(&p.finish[pass], 0, counters + (1 + pass) * grid_rows, grid_rows);
    }
    p.written_through = -1;
    p.writing = false;
}

namespace {

// A ring row is reused once the row that held it is written.
int upsample_room_through(const Schedule& p) {
    return min_int(p.written_through + p.grid_rows, p.h2 - 1);
}

// The last row the next writing job would write (written_through when there
// is none), and the last LR row the next reading job would read.
int writable_through(const Schedule& p) {
    if (p.writing) return p.written_through;
    return min_int(p.written_through + write_rows_per_job, p.finish[axial_pass].done_through);
}

int readable_through(const Schedule& p) {
    if (p.reading) return p.read_through;
    const int needed = lr_rows_needed_through(p, upsample_room_through(p));
    int last = p.read_through;
    while (last < needed && last < p.read_through + read_rows_per_job &&
           (last + 1 < p.lr_rows ||
            last_hr_row_reading(p, last + 1 - p.lr_rows) <= p.upsample.done_through))
        ++last;
    return last;
}

}  // namespace

bool has_io_job(const Schedule& p) {
    return writable_through(p) > p.written_through || readable_through(p) > p.read_through;
}

// Downstream stages come first, so that rows leave the ring as soon as they
// can and the rings never hold more than the work in hand needs; the
// calling thread's own stages come before all others, since no other thread
// can take them.
Job next_job(Schedule* schedule, bool io_thread) {
    Schedule& p = *schedule;
    pass_rows_without_parts(p);
    const int write_through = writable_through(p);
    if (io_thread && write_through > p.written_through) {
        p.writing = true;
        return make_job(job_write, axial_pass, p.written_through + 1, write_through);
    }
    const int read_through = readable_through(p);
    if (io_thread && read_through > p.read_through) {
        p.reading = true;
        return make_job(job_read, diagonal_pass, p.read_through + 1, read_through);
    }
    const int room_through = upsample_room_through(p);
    for (Pass pass : passes_downstream_first) {
        RowStage& s = p.finish[pass];
        const int r = s.next_row;
        if (r <= finish_through(p, pass)) {
            claim_part(p, s, job_finish, pass);
            return make_job(job_finish, pass, r, r);
        }
    }
    RowStage& u = p.upsample;
    if (u.next_row <= room_through && lr_rows_needed_through(p, u.next_row) <= p.read_through) {
        const int first = u.next_row;
        while (u.next_row <= room_through && u.next_row < first + upsample_rows_per_job &&
               lr_rows_needed_through(p, u.next_row) <= p.read_through)
            claim_part(p, u, job_upsample, diagonal_pass);
        return make_job(job_upsample, diagonal_pass, first, u.next_row - 1);
    }
    for (Pass pass : passes_downstream_first) {
        RowStage& s = p.estimate[pass];
        const int r = s.next_row;
        if (may_estimate(p, pass, r)) {
            const int part = claim_part(p, s, job_estimate, pass);
            return make_job(job_estimate, pass, r, r, part);
        }
    }
    return make_job(p.written_through == p.h2 - 1 ? job_done : job_wait, diagonal_pass, 0, -1);
}

void complete_job(Schedule* schedule, const Job& job) {
    Schedule& p = *schedule;
    switch (job.kind) {
        case job_read:
            p.read_through = job.last;
            p.reading = false;
            break;
        case job_upsample:
            for (int r = job.first; r <= job.last; ++r) ++parts_done(p.upsample, r);
            count_done(p, p.upsample, job.kind, job.pass);
            break;
        case job_estimate:
            ++parts_done(p.estimate[job.pass], job.first);
            count_done(p, p.estimate[job.pass], job.kind, job.pass);
            break;
        case job_finish:
            ++parts_done(p.finish[job.pass], job.first);
            count_done(p, p.finish[job.pass], job.kind, job.pass);
            break;
        case job_write:
            p.written_through = job.last;
            p.writing = false;
            break;
        case job_wait:
        case job_done:
            break;
    }
}

}  // namespace quillmorph
