#include "api/run.h"

#include <new>

#include "api/options.h"
#include "interp/grid.h"
#include "interp/pixels.h"

namespace quillmorph {

namespace {

// The progress hook is called after every this many HR rows, and after the
// last: often enough to stop within a few rows, seldom enough to cost
// nothing.
constexpr int rows_per_progress_call = 8;

// A MemoryRun at both ends of the pipeline, and how far it has got.
struct MemoryEnds {
    MemoryRun memory;
    int rows_read;
    int rows_seen;  // HR rows of the run handed on so far
    Progression run;
    bool region_done;
};

int read_memory_row(void* context, unsigned char* row) {
    MemoryEnds& ends = *static_cast<MemoryEnds*>(context);
    const unsigned char* from = ends.memory.lr + ends.rows_read++ * ends.memory.lr_stride;
    for (int i = 0; i < ends.memory.width; ++i) row[i] = from[i];
    return 0;
}

int write_memory_row(void* context, const double* row) {
    MemoryEnds& ends = *static_cast<MemoryEnds*>(context);
    const MemoryRun& memory = ends.memory;
    if (ends.rows_seen++ < memory.rows_above) return 0;
    pixels_from_values(row + memory.columns_left, static_cast<std::size_t>(memory.region_width),
                       memory.hr + ends.run.rows_done * memory.hr_stride);
    if (!count_row(&ends.run)) return -1;
    ends.region_done = ends.run.rows_done == ends.run.rows_total;
    return ends.region_done ? -1 : 0;  // the rows below are not needed
}

int api_status(UpscaleStatus status, const Progression& run) {
    switch (status) {
        case upscale_ok:
            return QM_OK;
        case upscale_read_failed:
            return QM_ERROR_READ;
        case upscale_write_failed:
            return run.cancelled ? QM_ERROR_CANCELLED : QM_ERROR_WRITE;
        case upscale_no_memory:
            return QM_ERROR_NO_MEMORY;
        case upscale_bad_size:
            return QM_ERROR_SIZE;
        case upscale_too_large:
            return QM_ERROR_TOO_LARGE;
    }
    return QM_ERROR_NO_MEMORY;
}

}  // namespace

Progression start_progression(const qm_options* options, int rows_total) {
    const qm_options& settings = options ? *options : default_options;
    return Progression{settings.progress, settings.progress_user, 0, rows_total, false};
}

bool count_row(Progression* run) {
    ++run->rows_done;
    if (!run->progress) return true;
    if (run->rows_done % rows_per_progress_call != 0 && run->rows_done != run->rows_total)
        return true;
    run->cancelled = run->progress(run->user, run->rows_done, run->rows_total) != 0;
    return !run->cancelled;
}

int size_status(int width, int height) {
    if (width < min_image_side || height < min_image_side) return QM_ERROR_SIZE;
    return image_size_supported(width, height) ? QM_OK : QM_ERROR_TOO_LARGE;
}

bool image_span(int rows, std::size_t row_bytes, std::ptrdiff_t stride, std::uintptr_t* span) {
    const auto step = static_cast<std::uintptr_t>(stride);
    const auto before_last = static_cast<std::uintptr_t>(rows - 1);
    if (before_last > (UINTPTR_MAX - row_bytes) / step) return false;
    *span = before_last * step + row_bytes;
    return *span <= static_cast<std::uintptr_t>(PTRDIFF_MAX);
}

bool overlap(const void* a, std::uintptr_t a_bytes, const void* b, std::uintptr_t b_bytes) {
    const auto a_first = reinterpret_cast<std::uintptr_t>(a);
    const auto b_first = reinterpret_cast<std::uintptr_t>(b);
    return a_first < b_first + b_bytes && b_first < a_first + a_bytes;
}

// The engine allocates with malloc and starts threads that fail quietly;
// anything it could still throw (the processor count reads small system
// files into strings) is an allocation failure.
int run_pipeline(int width, int height, LrRowSource source, HrRowSink sink,
                 const qm_options* options, const Progression& run) {
    try {
        const int threads =
            options && options->threads != 0 ? options->threads : available_threads();
        return api_status(
            upscale_rows(width, height, source, sink, threads, rings_for_threads(threads, width)),
            run);
    } catch (const std::bad_alloc&) {
        return QM_ERROR_NO_MEMORY;
    }
}

int upscale_in_memory(const MemoryRun& memory, const qm_options* options) {
    MemoryEnds ends = {memory, 0, 0, start_progression(options, memory.region_height), false};
    const int status =
        run_pipeline(memory.width, memory.height, LrRowSource{read_memory_row, &ends},
                     HrRowSink{write_memory_row, &ends}, options, ends.run);
    return ends.region_done && !ends.run.cancelled ? QM_OK : status;
}

}  // namespace quillmorph
