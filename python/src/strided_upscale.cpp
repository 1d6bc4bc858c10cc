// Whole images in place where the library can take them, row by row where
// it cannot: no layout or byte order ever costs a copy of the whole image.
#include "strided_upscale.h"

#include <cstdint>
#include <cstring>

namespace quillmorph_python {

namespace {

unsigned char* row_start(const StridedImage& image, int y) {
    return image.origin + static_cast<std::ptrdiff_t>(y) * image.row_step;
}

// The two ends of a row-by-row call: the next LR row to read and the next
// HR row to write, each taken in order from the top.
struct RowCursor {
    const StridedImage* lr;
    const StridedImage* hr;
    int lr_rows_read;
    int hr_rows_written;
};

// Through memcpy, since a view's 16-bit samples may lie at odd addresses.
template <typename Sample>
Sample load(const unsigned char* from, bool swapped) {
    Sample value;
    std::memcpy(&value, from, sizeof value);
    if constexpr (sizeof(Sample) == 2) {
        if (swapped) value = static_cast<Sample>((value >> 8) | (value << 8));
    }
    return value;
}

template <typename Sample>
int gather_row(void* user, Sample* row) {
    RowCursor& cursor = *static_cast<RowCursor*>(user);
    const StridedImage& lr = *cursor.lr;
    const unsigned char* from = row_start(lr, cursor.lr_rows_read++);
    for (int x = 0; x < lr.width; ++x) row[x] = load<Sample>(from + x * lr.column_step, lr.swapped);
    return 0;
}

template <typename Sample>
int scatter_row(void* user, const Sample* row) {
    RowCursor& cursor = *static_cast<RowCursor*>(user);
    const StridedImage& hr = *cursor.hr;
    unsigned char* to = row_start(hr, cursor.hr_rows_written++);
    for (int x = 0; x < hr.width; ++x) std::memcpy(to + x * hr.column_step, &row[x], sizeof row[x]);
    return 0;
}

// Whether some sample of image lies above maxval.  The row-by-row call
// finds such a sample only when it reads that row, after the rows above it
// went out; looking first keeps the whole-image calls' promise that nothing
// is written on that error.
template <typename Sample>
bool has_sample_above(const StridedImage& image, int maxval) {
    for (int y = 0; y < image.height; ++y) {
        const unsigned char* from = row_start(image, y);
        for (int x = 0; x < image.width; ++x)
            if (load<Sample>(from + x * image.column_step, image.swapped) > maxval) return true;
    }
    return false;
}

}  // namespace

bool has_plain_rows(const StridedImage& image) {
    const std::ptrdiff_t bytes = image.sample_bytes;
    return !image.swapped && image.column_step == bytes && image.row_step >= bytes * image.width &&
           image.row_step % bytes == 0 &&
           reinterpret_cast<std::uintptr_t>(image.origin) % static_cast<std::uintptr_t>(bytes) == 0;
}

int upscale_strided(const StridedImage& lr, const StridedImage& hr, int maxval,
                    const qm_options* options) {
    const bool in_place = has_plain_rows(lr) && has_plain_rows(hr);
    RowCursor cursor = {&lr, &hr, 0, 0};
    if (lr.sample_bytes == 1) {
        if (in_place)
            return qm_upscale(lr.origin, lr.width, lr.height, lr.row_step, hr.origin, hr.row_step,
                              options);
        if (maxval < UINT8_MAX && has_sample_above<unsigned char>(lr, maxval))
            return QM_ERROR_SAMPLE;
        return qm_upscale_rows(lr.width, lr.height, gather_row<unsigned char>,
                               scatter_row<unsigned char>, &cursor, options);
    }
    if (in_place)
        return qm_upscale16(reinterpret_cast<const std::uint16_t*>(lr.origin), lr.width, lr.height,
                            lr.row_step, reinterpret_cast<std::uint16_t*>(hr.origin), hr.row_step,
                            options);
    if (maxval < UINT16_MAX && has_sample_above<std::uint16_t>(lr, maxval)) return QM_ERROR_SAMPLE;
    return qm_upscale16_rows(lr.width, lr.height, gather_row<std::uint16_t>,
                             scatter_row<std::uint16_t>, &cursor, options);
}

}  // namespace quillmorph_python
