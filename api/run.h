// What the API's calls share: their checks, their progress, and running the
// engine's pipeline with a status for the caller.
#ifndef QUILLMORPH_API_RUN_H
#define QUILLMORPH_API_RUN_H

#include <cstddef>
#include <cstdint>

#include "interp/upscale.h"
#include "quillmorph.h"

namespace quillmorph {

// One call's progress in HR rows, and whether its hook asked to stop.
struct Progression {
    qm_progress_fn progress;
    void* user;
    int rows_done;
    int rows_total;
    bool cancelled;
};

Progression start_progression(const qm_options* options, int rows_total);

// Counts a row handed on; false once the hook asks to stop.
bool count_row(Progression* run);

// QM_OK, QM_ERROR_SIZE or QM_ERROR_TOO_LARGE for a width x height LR image.
int size_status(int width, int height);

// Whether rows rows of row_bytes bytes, stride bytes apart, span an
// addressable range; *span is its length in bytes.
bool image_span(int rows, std::size_t row_bytes, std::ptrdiff_t stride, std::uintptr_t* span);

// Whether two byte ranges share a byte.
bool overlap(const void* a, std::uintptr_t a_bytes, const void* b, std::uintptr_t b_bytes);

// Runs the pipeline on a width x height image with the threads options asks
// for; the status is the caller's (a write that the progress hook stopped is
// QM_ERROR_CANCELLED).
int run_pipeline(int width, int height, LrRowSource source, HrRowSink sink,
                 const qm_options* options, const Progression& run);

// A run from memory into memory: the width x height LR image whose rows
// start at lr, lr_stride bytes apart, and the region_width x region_height
// part of its output that lies rows_above rows down and columns_left
// columns in, written at hr, rows hr_stride bytes apart.
struct MemoryRun {
    const unsigned char* lr;
    std::ptrdiff_t lr_stride;
    int width, height;
    unsigned char* hr;
    std::ptrdiff_t hr_stride;
    int rows_above, columns_left;
    int region_width, region_height;
};

// Runs it, stopping once the region's last row is written; the progress
// hook counts the region's rows.
int upscale_in_memory(const MemoryRun& memory, const qm_options* options);

}  // namespace quillmorph

#endif
