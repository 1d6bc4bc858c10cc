// The whole-image calls: arguments checked, then the engine run with the
// caller's rows at its two ends.  The engine hands on rows of grid values;
// they become samples here (api/run.cpp for images in memory), and each row
// handed on counts towards the progress hook.  Each call is written once,
// for both widths of sample.
#include <cstdint>
#include <new>

#include "api/run.h"
#include "interp/pixels.h"
#include "quillmorph.h"

namespace quillmorph {

namespace {

template <typename Sample>
int upscale_whole(const Sample* lr, int width, int height, std::ptrdiff_t lr_stride, Sample* hr,
                  std::ptrdiff_t hr_stride, const qm_options* options) {
    if (!lr || !hr) return QM_ERROR_ARGUMENT;
    const int maxval = call_maxval<Sample>(options);
    if (maxval == 0) return QM_ERROR_ARGUMENT;
    const int size = size_status(width, height);
    if (size != QM_OK) return size;
    constexpr auto sample_bytes = static_cast<std::ptrdiff_t>(sizeof(Sample));
    const std::size_t lr_row_bytes = static_cast<std::size_t>(width) * sizeof(Sample);
    const std::size_t hr_row_bytes = 2 * lr_row_bytes;
    if (lr_stride < static_cast<std::ptrdiff_t>(lr_row_bytes) ||
        hr_stride < static_cast<std::ptrdiff_t>(hr_row_bytes) || lr_stride % sample_bytes != 0 ||
        hr_stride % sample_bytes != 0)
        return QM_ERROR_ARGUMENT;
    std::uintptr_t lr_span = 0, hr_span = 0;
    if (!image_span(height, lr_row_bytes, lr_stride, &lr_span) ||
        !image_span(2 * height, hr_row_bytes, hr_stride, &hr_span))
        return QM_ERROR_TOO_LARGE;
    if (overlap(lr, lr_span, hr, hr_span)) return QM_ERROR_ARGUMENT;
    if (!samples_within(lr, width, height, lr_stride, maxval)) return QM_ERROR_SAMPLE;

    return upscale_in_memory(MemoryImages<Sample>{lr, lr_stride, width, height, hr, hr_stride, 0, 0,
                                                  2 * width, 2 * height},
                             maxval, options);
}

// The caller's row callbacks at the engine's two ends.
template <typename Sample>
struct StreamEnds {
    int (*read_row)(void* user, Sample* row);
    int (*write_row)(void* user, const Sample* row);
    void* user;
    int width;
    int maxval;
    Sample* hr_row;  // the samples of the row being handed on
    ProgressReport report;
    bool sample_above_maxval;
};

template <typename Sample>
int read_stream_row(void* context, void* row) {
    StreamEnds<Sample>& ends = *static_cast<StreamEnds<Sample>*>(context);
    Sample* samples = static_cast<Sample*>(row);
    if (ends.read_row(ends.user, samples) != 0) return -1;
    ends.sample_above_maxval = !samples_within(samples, ends.width, 1, 0, ends.maxval);
    return ends.sample_above_maxval ? -1 : 0;
}

template <typename Sample>
int write_stream_row(void* context, const double* row) {
    StreamEnds<Sample>& ends = *static_cast<StreamEnds<Sample>*>(context);
    samples_from_values(row, 2 * static_cast<std::size_t>(ends.width), ends.maxval, ends.hr_row);
    if (ends.write_row(ends.user, ends.hr_row) != 0) return -1;
    return count_row(&ends.report) ? 0 : -1;
}

template <typename Sample>
int upscale_stream(int width, int height, int (*read_row)(void*, Sample*),
                   int (*write_row)(void*, const Sample*), void* user, const qm_options* options) {
    if (!read_row || !write_row) return QM_ERROR_ARGUMENT;
    const int maxval = call_maxval<Sample>(options);
    if (maxval == 0) return QM_ERROR_ARGUMENT;
    const int size = size_status(width, height);
    if (size != QM_OK) return size;
    Sample* hr_row = new (std::nothrow) Sample[2 * static_cast<std::size_t>(width)];
    if (!hr_row) return QM_ERROR_NO_MEMORY;

    StreamEnds<Sample> ends = {
        read_row, write_row, user, width, maxval, hr_row, start_report(options, 2 * height), false};
    const SampleFormat samples = {static_cast<int>(sizeof(Sample)), maxval};
    const int status =
        call_engine(width, height, samples, LrRowSource{read_stream_row<Sample>, &ends},
                    HrRowSink{write_stream_row<Sample>, &ends}, options, ends.report);
    delete[] hr_row;
    return ends.sample_above_maxval ? QM_ERROR_SAMPLE : status;
}

}  // namespace

}  // namespace quillmorph

using namespace quillmorph;

extern "C" {

int qm_upscale(const unsigned char* lr, int width, int height, ptrdiff_t lr_stride,
               unsigned char* hr, ptrdiff_t hr_stride, const qm_options* options) {
    return upscale_whole(lr, width, height, lr_stride, hr, hr_stride, options);
}

int qm_upscale16(const uint16_t* lr, int width, int height, ptrdiff_t lr_stride, uint16_t* hr,
                 ptrdiff_t hr_stride, const qm_options* options) {
    return upscale_whole(lr, width, height, lr_stride, hr, hr_stride, options);
}

int qm_upscale_rows(int width, int height, qm_read_row_fn read_row, qm_write_row_fn write_row,
                    void* user, const qm_options* options) {
    return upscale_stream(width, height, read_row, write_row, user, options);
}

int qm_upscale16_rows(int width, int height, qm_read_row16_fn read_row, qm_write_row16_fn write_row,
                      void* user, const qm_options* options) {
    return upscale_stream(width, height, read_row, write_row, user, options);
}

int qm_check_size(int width, int height) {
    const int status = size_status(width, height);
    if (status != QM_OK) return status;
    // The rings grow with the threads: those of the most threads a call may
    // have, on the wider samples, bound every call's.
    const SampleFormat widest_samples = {static_cast<int>(sizeof(std::uint16_t)), max_16bit_sample};
    const RingSizes largest_rings = layout_for_threads(max_threads, width).rings;
    return rings_fit(width, height, widest_samples, largest_rings) ? QM_OK : QM_ERROR_TOO_LARGE;
}

}  // extern "C"
