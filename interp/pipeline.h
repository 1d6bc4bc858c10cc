// The memory of one run down the image and the jobs that work on it: the
// stage rules (interp/stages.h) say which job comes when, upscale.cpp runs
// them on threads, and bench/scaling one at a time to time them.
#ifndef QUILLMORPH_INTERP_PIPELINE_H
#define QUILLMORPH_INTERP_PIPELINE_H

#include "interp/row_ring.h"
#include "interp/stages.h"
#include "interp/upscale.h"

namespace quillmorph {

struct Pipeline {
    int w, h, w2, h2;
    LrRowSource source;
    HrRowSink sink;
    unsigned char* lr;  // a ring of lr_rows LR rows
    int lr_rows;
    RowRing grid;
    double* stores[2];  // by Pass
    int store_rows;
    int* counters;  // the progress's
    Progress progress;
};

// Allocates the rings of a w x h image (sizes checked by the caller) and
// starts its progress; false, with nothing held, when memory is short.
bool start_pipeline(Pipeline* p, int w, int h, LrRowSource source, HrRowSink sink, RingSizes rings);
void end_pipeline(Pipeline* p);

// Runs a job next_job gave; false when its reading or writing failed.
bool run_job(const Pipeline& p, const Job& job);

}  // namespace quillmorph

#endif
