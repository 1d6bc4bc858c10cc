#include "api/run.h"

#include <limits>
#include <new>

#include "api/options.h"
#include "interp/grid.h"
#include "interp/pixels.h"

namespace quillmorph {

namespace {

static_assert(QM_MAX_THREADS == max_threads, "the public thread cap is the engine's");

// The progress hook is called after every this many HR rows, and after the
// last: often enough to stop within a few rows, seldom enough to cost
// nothing.
constexpr int rows_per_progress_call = 8;

// MemoryImages at both ends of the engine, and how far it has got.
template <typename Sample>
struct MemoryEnds {
    MemoryImages<Sample> images;
    int maxval;
    int rows_read;
    int rows_seen;  // HR rows of the whole window handed on so far
    ProgressReport report;
    bool region_done;
};

template <typename Sample>
int read_memory_row(void* context, void* row) {
    MemoryEnds<Sample>& ends = *static_cast<MemoryEnds<Sample>*>(context);
    const Sample* from = row_at(ends.images.lr, ends.rows_read++, ends.images.lr_stride);
    Sample* to = static_cast<Sample*>(row);
    for (int i = 0; i < ends.images.width; ++i) to[i] = from[i];
    return 0;
}

template <typename Sample>
int write_memory_row(void* context, const double* row) {
    MemoryEnds<Sample>& ends = *static_cast<MemoryEnds<Sample>*>(context);
    const MemoryImages<Sample>& images = ends.images;
    if (ends.rows_seen++ < images.rows_above) return 0;
    samples_from_values(row + images.columns_left, static_cast<std::size_t>(images.region_width),
                        ends.maxval, row_at(images.hr, ends.report.rows_done, images.hr_stride));
    if (!count_row(&ends.report)) return -1;
    ends.region_done = ends.report.rows_done == ends.report.rows_total;
    return ends.region_done ? -1 : 0;  // the rows below are not needed
}

int api_status(UpscaleStatus status, const ProgressReport& report) {
    switch (status) {
        case upscale_ok:
            return QM_OK;
        case upscale_read_failed:
            return QM_ERROR_READ;
        case upscale_write_failed:
            return report.cancelled ? QM_ERROR_CANCELLED : QM_ERROR_WRITE;
        case upscale_no_memory:
            return QM_ERROR_NO_MEMORY;
        case upscale_bad_size:
            return QM_ERROR_SIZE;
        case upscale_too_large:
            return QM_ERROR_TOO_LARGE;
        case upscale_no_vector_code:
            return QM_ERROR_VECTOR_TARGET;
    }
    return QM_ERROR_NO_MEMORY;
}

}  // namespace

ProgressReport start_report(const qm_options* options, int rows_total) {
    const qm_options& settings = options ? *options : default_options;
    return ProgressReport{settings.progress, settings.progress_user, 0, rows_total, false};
}

bool count_row(ProgressReport* report) {
    ++report->rows_done;
    if (!report->hook) return true;
    if (report->rows_done % rows_per_progress_call != 0 && report->rows_done != report->rows_total)
        return true;
    report->cancelled = report->hook(report->user, report->rows_done, report->rows_total) != 0;
    return !report->cancelled;
}

int size_status(int width, int height) {
    if (width < min_image_side || height < min_image_side) return QM_ERROR_SIZE;
    return image_size_supported(width, height) ? QM_OK : QM_ERROR_TOO_LARGE;
}

template <typename Sample>
int call_maxval(const qm_options* options) {
    constexpr int largest = sizeof(Sample) == 1 ? max_8bit_sample : max_16bit_sample;
    const int asked = options ? options->maxval : 0;
    if (asked == 0) return largest;
    return asked <= largest ? asked : 0;
}

template int call_maxval<unsigned char>(const qm_options*);
template int call_maxval<std::uint16_t>(const qm_options*);

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

template <typename Sample>
bool samples_within(const Sample* first, int width, int rows, std::ptrdiff_t stride, int maxval) {
    // Nothing to read when every value the type holds is allowed.
    if (maxval >= std::numeric_limits<Sample>::max()) return true;
    for (int y = 0; y < rows; ++y) {
        const Sample* row = row_at(first, y, stride);
        // One comparison per sample, no early exit: the loop vectorises.
        bool within = true;
        for (int x = 0; x < width; ++x) within &= row[x] <= maxval;
        if (!within) return false;
    }
    return true;
}

template bool samples_within(const unsigned char*, int, int, std::ptrdiff_t, int);
template bool samples_within(const std::uint16_t*, int, int, std::ptrdiff_t, int);

// The engine allocates with malloc and starts threads that fail quietly;
// anything it could still throw (the processor count reads small system
// files into strings) is an allocation failure.
int call_engine(int width, int height, SampleFormat samples, LrRowSource source, HrRowSink sink,
                const qm_options* options, const ProgressReport& report) {
    try {
        const RunLayout layout = layout_for_threads(options ? options->threads : 0, width);
        return api_status(upscale_rows(width, height, samples, source, sink, layout), report);
    } catch (const std::bad_alloc&) {
        return QM_ERROR_NO_MEMORY;
    }
}

template <typename Sample>
int upscale_in_memory(const MemoryImages<Sample>& images, int maxval, const qm_options* options) {
    MemoryEnds<Sample> ends = {images, maxval, 0, 0, start_report(options, images.region_height),
                               false};
    const SampleFormat samples = {static_cast<int>(sizeof(Sample)), maxval};
    const int status = call_engine(
        images.width, images.height, samples, LrRowSource{read_memory_row<Sample>, &ends},
        HrRowSink{write_memory_row<Sample>, &ends}, options, ends.report);
    return ends.region_done && !ends.report.cancelled ? QM_OK : status;
}

template int upscale_in_memory(const MemoryImages<unsigned char>&, int, const qm_options*);
template int upscale_in_memory(const MemoryImages<std::uint16_t>&, int, const qm_options*);

}  // namespace quillmorph
