// The memory of one run down the image and the jobs that work on it: the
// stage rules (interp/stages.h) say which job comes when, upscale.cpp runs
// them on threads, and bench/scaling one at a time to time them.
#ifndef QUILLMORPH_INTERP_PIPELINE_H
#define QUILLMORPH_INTERP_PIPELINE_H

#include "interp/estimator.h"
#include "interp/row_ring.h"
#include "interp/stages.h"
#include "interp/upscale.h"

namespace quillmorph {

struct Pipeline {
    int w, h, w2, h2;
    SampleFormat samples;
    LrRowSource source;
    HrRowSink sink;
    void* lr;  // a ring of lr_rows LR rows of w samples
    int lr_rows;
    RowRing grid;
    double* stores[2];  // by Pass
    int store_rows;
    Estimator* estimators;  // one for each of the layout's threads
    int* counters;          // the schedule's
    Schedule schedule;
};

// Allocates the rings of a w x h image (sizes checked by the caller) and an
// estimator for each of the layout's threads, and starts its schedule;
// false, with nothing held, when memory is short.
bool start_pipeline(Pipeline* p, int w, int h, SampleFormat samples, LrRowSource source,
                    HrRowSink sink, RunLayout layout);
void end_pipeline(Pipeline* p);

// Runs a job next_job gave with the given estimator; false when its reading
// or writing failed.
bool run_job(const Pipeline& p, const Job& job, Estimator& estimator);

}  // namespace quillmorph

#endif
