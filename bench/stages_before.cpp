#include "stages_before.h"

namespace quillmorph {
namespace before {

namespace {

constexpr Pass passes_downstream_first[] = {axial_pass, diagonal_pass};

int min_int(int a, int b) { return a < b ? a : b; }

// The last row whose cells hold their final values from the stage before
// the pass: the initial upsampling for the diagonal pass, the diagonal pass
// for the axial one.
int ready_through(const Progress& p, Pass pass) {
    return pass == diagonal_pass ? p.upsampled_through : p.pass[diagonal_pass].finished_through;
}

char& estimated_flag(const Progress& p, const PassProgress& q, int row) {
    return q.estimated[row % p.store_rows];
}

Job make_job(JobKind kind, Pass pass, int first, int last) { return Job{kind, pass, first, last}; }

}  // namespace

void start_progress(Progress* progress, int h2, int grid_rows, int store_rows,
                    char* const estimated[2]) {
    Progress& p = *progress;
    p.h2 = h2;
    p.last_target = last_target_row(h2);
    p.grid_rows = grid_rows;
    p.store_rows = store_rows;
    p.upsampled_through = -1;
    p.upsampling = false;
    for (Pass pass : passes_downstream_first) {
        PassProgress& q = p.pass[pass];
        q.next_row = first_target_row;
        q.estimated_through = first_target_row - 1;
        q.finished_through = -1;
        q.finishing = false;
        q.estimated = estimated[pass];
    }
    p.written_through = -1;
    p.writing = false;
}

// Downstream stages come first, so that rows leave the ring as soon as they
// can and the rings never hold more than the work in hand needs.
Job next_job(Progress* progress, bool io_thread) {
    Progress& p = *progress;
    const PassProgress& axial = p.pass[axial_pass];
    if (io_thread && !p.writing && p.written_through < axial.finished_through) {
        p.writing = true;
        return make_job(job_write, axial_pass, p.written_through + 1, axial.finished_through);
    }
    for (Pass pass : passes_downstream_first) {
        PassProgress& q = p.pass[pass];
        const int through = min_int(finishable_through(q.estimated_through, p.last_target, p.h2),
                                    ready_through(p, pass));
        if (!q.finishing && q.finished_through < through) {
            q.finishing = true;
            return make_job(job_finish, pass, q.finished_through + 1, through);
        }
    }
    // A ring row is reused once the row that held it is written.
    const int room_through = min_int(p.written_through + p.grid_rows, p.h2 - 1);
    if (io_thread && !p.upsampling && p.upsampled_through < room_through) {
        p.upsampling = true;
        const int first = p.upsampled_through + 1;
        return make_job(job_upsample, diagonal_pass, first,
                        min_int(first + upsample_rows_per_job - 1, room_through));
    }
    for (Pass pass : passes_downstream_first) {
        PassProgress& q = p.pass[pass];
        const int r = q.next_row;
        if (r <= p.last_target && r + estimate_lead <= ready_through(p, pass) &&
            may_claim(r, q.finished_through, p.store_rows)) {
            estimated_flag(p, q, r) = 0;
            ++q.next_row;
            return make_job(job_estimate, pass, r, r);
        }
    }
    return make_job(p.written_through == p.h2 - 1 ? job_done : job_wait, diagonal_pass, 0, -1);
}

void complete_job(Progress* progress, const Job& job) {
    Progress& p = *progress;
    PassProgress& q = p.pass[job.pass];
    switch (job.kind) {
        case job_upsample:
            p.upsampled_through = job.last;
            p.upsampling = false;
            break;
        case job_estimate:
            estimated_flag(p, q, job.first) = 1;
            while (q.estimated_through < q.next_row - 1 &&
                   estimated_flag(p, q, q.estimated_through + 1))
                ++q.estimated_through;
            break;
        case job_finish:
            q.finished_through = job.last;
            q.finishing = false;
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

}  // namespace before
}  // namespace quillmorph
