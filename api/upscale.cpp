// The whole-image calls: arguments checked, then the engine's pipeline run
// with the caller's rows at its two ends.  The engine hands on rows of grid
// values; they become pixels here (api/run.cpp for images in memory), and
// each row handed on counts towards the progress hook.
#include <new>

#include "api/run.h"
#include "interp/pixels.h"
#include "quillmorph.h"

namespace quillmorph {

namespace {

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

    return upscale_in_memory(
        MemoryRun{lr, lr_stride, width, height, hr, hr_stride, 0, 0, 2 * width, 2 * height},
        options);
}

int qm_upscale_rows(int width, int height, qm_read_row_fn read_row, qm_write_row_fn write_row,
                    void* user, const qm_options* options) {
    if (!read_row || !write_row) return QM_ERROR_ARGUMENT;
    const int size = size_status(width, height);
    if (size != QM_OK) return size;
    const std::size_t hr_row_bytes = 2 * static_cast<std::size_t>(width);
    unsigned char* hr_row = new (std::nothrow) unsigned char[hr_row_bytes];
    if (!hr_row) return QM_ERROR_NO_MEMORY;

    StreamEnds ends = {read_row, write_row,    user,
                       hr_row,   hr_row_bytes, start_progression(options, 2 * height)};
    const int status = run_pipeline(width, height, LrRowSource{read_stream_row, &ends},
                                    HrRowSink{write_stream_row, &ends}, options, ends.run);
    delete[] hr_row;
    return status;
}

}  // extern "C"
