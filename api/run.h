// What the API's calls share: their checks, their progress reports, and
// calling the engine with a status for the caller.
#ifndef QUILLMORPH_API_RUN_H
#define QUILLMORPH_API_RUN_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "interp/upscale.h"
#include "quillmorph.h"

namespace quillmorph {

// One call's progress in HR rows as its hook sees it, and whether the hook
// asked to stop.
struct ProgressReport {
    qm_progress_fn hook;
    void* user;
    int rows_done;
    int rows_total;
    bool cancelled;
};

ProgressReport start_report(const qm_options* options, int rows_total);

// Counts a row handed on; false once the hook asks to stop.
bool count_row(ProgressReport* report);

// QM_OK, QM_ERROR_SIZE or QM_ERROR_TOO_LARGE for a width x height LR image.
int size_status(int width, int height);

// The maxval a call on samples of Sample runs with: the options' or, unset,
// the largest value a Sample holds; 0 when the options ask for more than
// that.
template <typename Sample>
int call_maxval(const qm_options* options);

// Whether rows rows of row_bytes bytes, stride bytes apart, span an
// addressable range; *span is its length in bytes.
bool image_span(int rows, std::size_t row_bytes, std::ptrdiff_t stride, std::uintptr_t* span);

// Whether two byte ranges share a byte.
bool overlap(const void* a, std::uintptr_t a_bytes, const void* b, std::uintptr_t b_bytes);

// Row y of an image whose rows lie stride bytes apart.
template <typename Sample>
Sample* row_at(Sample* first, std::ptrdiff_t y, std::ptrdiff_t stride) {
    using Byte = typename std::conditional<std::is_const<Sample>::value, const unsigned char,
                                           unsigned char>::type;
    return reinterpret_cast<Sample*>(reinterpret_cast<Byte*>(first) + y * stride);
}

// Whether every sample of the width x rows image at first lies within
// 0..maxval.
template <typename Sample>
bool samples_within(const Sample* first, int width, int rows, std::ptrdiff_t stride, int maxval);

// Runs the engine on a width x height image with the threads options ask
// for; the status is the caller's (a write that the progress hook stopped is
// QM_ERROR_CANCELLED).
int call_engine(int width, int height, SampleFormat samples, LrRowSource source, HrRowSink sink,
                const qm_options* options, const ProgressReport& report);

// Images in memory at both ends: the width x height LR image whose rows
// start at lr, lr_stride bytes apart, and the region_width x region_height
// part of its output that lies rows_above rows down and columns_left
// columns in, written at hr, rows hr_stride bytes apart.
template <typename Sample>
struct MemoryImages {
    const Sample* lr;
    std::ptrdiff_t lr_stride;
    int width, height;
    Sample* hr;
    std::ptrdiff_t hr_stride;
    int rows_above, columns_left;
    int region_width, region_height;
};

// Upscales them with the given maxval, stopping once the region's last row
// is written; the progress hook counts the region's rows.
template <typename Sample>
int upscale_in_memory(const MemoryImages<Sample>& images, int maxval, const qm_options* options);

}  // namespace quillmorph

#endif
