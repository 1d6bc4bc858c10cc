// The upscaling calls: arguments checked, then the engine's pipeline run
// with the caller's rows at its two ends.  The engine hands on rows of
// grid values; they become pixels here, and each row handed on counts
// towards the progress hook.
#include <cstdint>
#include <new>

#include "api/options.h"
#include "interp/grid.h"
#include "interp/pixels.h"
#include "interp/upscale.h"
#include "quillmorph.h"

namespace quillmorph {

namespace {

// The progress hook is called after every this many HR rows, and after the
// last: often enough to stop within a few rows, seldom enough to cost
// nothing.
constexpr int rows_per_progress_call = 8;

// One call's progress, and whether its hook asked to stop.
struct Progression {
    qm_progress_fn progress;
    void* user;
    int rows_done;
    int rows_total;
    bool cancelled;
};

// Counts a row handed on; false once the hook asks to stop.
bool count_row(Progression* run) {
    ++run->rows_done;
    if (!run->progress) return true;
    if (run->rows_done % rows_per_progress_call != 0 && run->rows_done != run->rows_total)
        return true;
    run->cancelled = run->progress(run->user, run->rows_done, run->rows_total) != 0;
    return !run->cancelled;
}

int threads_for(const qm_options& options) {
    return options.threads == 0 ? available_threads() : options.threads;
}

int size_status(int width, int height) {
    if (width < min_image_side || height < min_image_side) return QM_ERROR_SIZE;
    return image_size_supported(width, height) ? QM_OK : QM_ERROR_TOO_LARGE;
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

// The engine allocates with malloc and starts threads that fail quietly;
// anything it could still throw is an allocation failure.
int run_pipeline(int width, int height, LrRowSource source, HrRowSink sink,
                 const qm_options& options, const Progression& run) {
    try {
        const int threads = threads_for(options);
        return api_status(
            upscale_rows(width, height, source, sink, threads, rings_for_threads(threads, width)),
            run);
    } catch (const std::bad_alloc&) {
        return QM_ERROR_NO_MEMORY;
    }
}

// ---- Whole images in memory.

struct ImageEnds {
    const unsigned char* lr;
    std::ptrdiff_t lr_stride;
    unsigned char* hr;
    std::ptrdiff_t hr_stride;
    std::size_t lr_row_bytes, hr_row_bytes;
    int rows_read;
    Progression run;
};

int read_image_row(void* context, unsigned char* row) {
    ImageEnds& image = *static_cast<ImageEnds*>(context);
    const unsigned char* from = image.lr + image.rows_read++ * image.lr_stride;
    for (std::size_t i = 0; i < image.lr_row_bytes; ++i) row[i] = from[i];
    return 0;
}

int write_image_row(void* context, const double* row) {
    ImageEnds& image = *static_cast<ImageEnds*>(context);
    pixels_from_values(row, image.hr_row_bytes, image.hr + image.run.rows_done * image.hr_stride);
    return count_row(&image.run) ? 0 : -1;
}

// Whether rows rows of row_bytes bytes, stride bytes apart, span an
// addressable range; *span is its length.
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

// ---- Streams of rows.

struct StreamEnds {
    qm_read_row_fn read_row;
    qm_write_row_fn write_row;
    void* user;
    unsigned char* hr_row;  // the pixels of the row being handed on
    std::size_t hr_row_bytes;
    Progression run;
};

int read_stream_row(void* context, unsigned char* row) {
    StreamEnds& ends = *static_cast<StreamEnds*>(context);
    return ends.read_row(ends.user, row) == 0 ? 0 : -1;
}

int write_stream_row(void* context, const double* row) {
    StreamEnds& ends = *static_cast<StreamEnds*>(context);
    pixels_from_values(row, ends.hr_row_bytes, ends.hr_row);
    if (ends.write_row(ends.user, ends.hr_row) != 0) return -1;
    return count_row(&ends.run) ? 0 : -1;
}

Progression start_progression(const qm_options& options, int height) {
    return Progression{options.progress, options.progress_user, 0, 2 * height, false};
}

}  // namespace

}  // namespace quillmorph

using namespace quillmorph;

extern "C" {

int qm_upscale(const unsigned char* lr, int width, int height, ptrdiff_t lr_stride,
               unsigned char* hr, ptrdiff_t hr_stride, const qm_options* options) {
    if (!lr || !hr) return QM_ERROR_ARGUMENT;
    const int size = size_status(width, height);
    if (size != QM_OK) return size;
    const auto lr_row_bytes = static_cast<std::size_t>(width);
    const std::size_t hr_row_bytes = 2 * lr_row_bytes;
    if (lr_stride < static_cast<std::ptrdiff_t>(lr_row_bytes) ||
        hr_stride < static_cast<std::ptrdiff_t>(hr_row_bytes))
        return QM_ERROR_ARGUMENT;
    std::uintptr_t lr_span = 0, hr_span = 0;
    if (!image_span(height, lr_row_bytes, lr_stride, &lr_span) ||
        !image_span(2 * height, hr_row_bytes, hr_stride, &hr_span))
        return QM_ERROR_TOO_LARGE;
    if (overlap(lr, lr_span, hr, hr_span)) return QM_ERROR_ARGUMENT;

    const qm_options& settings = options ? *options : default_options;
    ImageEnds image = {lr,           lr_stride,    hr, hr_stride,
                       lr_row_bytes, hr_row_bytes, 0,  start_progression(settings, height)};
    return run_pipeline(width, height, LrRowSource{read_image_row, &image},
                        HrRowSink{write_image_row, &image}, settings, image.run);
}

int qm_upscale_rows(int width, int height, qm_read_row_fn read_row, qm_write_row_fn write_row,
                    void* user, const qm_options* options) {
    if (!read_row || !write_row) return QM_ERROR_ARGUMENT;
    const int size = size_status(width, height);
    if (size != QM_OK) return size;
    const std::size_t hr_row_bytes = 2 * static_cast<std::size_t>(width);
    unsigned char* hr_row = new (std::nothrow) unsigned char[hr_row_bytes];
    if (!hr_row) return QM_ERROR_NO_MEMORY;

    const qm_options& settings = options ? *options : default_options;
    StreamEnds ends = {read_row, write_row,    user,
                       hr_row,   hr_row_bytes, start_progression(settings, height)};
    const int status = run_pipeline(width, height, LrRowSource{read_stream_row, &ends},
                                    HrRowSink{write_stream_row, &ends}, settings, ends.run);
    delete[] hr_row;
    return status;
}

}  // extern "C"
