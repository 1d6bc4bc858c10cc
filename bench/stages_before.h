// The stage rules as they were before the many-core work (revision
// 87bcc88), kept for bench/scaling's "before" figures: estimates a whole
// row each, every other stage on one thread at a time, and upsampling
// (which read the LR rows) on the calling thread alone.
#ifndef QUILLMORPH_BENCH_STAGES_BEFORE_H
#define QUILLMORPH_BENCH_STAGES_BEFORE_H

#include "interp/stages.h"

namespace quillmorph {
namespace before {

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

void start_progress(Progress* progress, int h2, int grid_rows, int store_rows,
                    char* const estimated[2]);
Job next_job(Progress* progress, bool io_thread);
void complete_job(Progress* progress, const Job& job);

}  // namespace before
}  // namespace quillmorph

#endif
