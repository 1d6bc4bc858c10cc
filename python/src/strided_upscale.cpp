// Whole images in place where the library can take them, row by row where
// it cannot: no layout ever costs a copy of the whole image.
#include "strided_upscale.h"

namespace quillmorph_python {

namespace {

// Whether qm_upscale can take the image with its own row stride.
bool has_plain_rows(const StridedImage& image) {
    return image.column_step == 1 && image.row_step >= image.width;
}

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

int gather_row(void* user, unsigned char* row) {
    RowCursor& cursor = *static_cast<RowCursor*>(user);
    const StridedImage& lr = *cursor.lr;
    const unsigned char* from = row_start(lr, cursor.lr_rows_read++);
    for (int x = 0; x < lr.width; ++x) row[x] = from[x * lr.column_step];
    return 0;
}

int scatter_row(void* user, const unsigned char* row) {
    RowCursor& cursor = *static_cast<RowCursor*>(user);
    const StridedImage& hr = *cursor.hr;
    unsigned char* to = row_start(hr, cursor.hr_rows_written++);
    for (int x = 0; x < hr.width; ++x) to[x * hr.column_step] = row[x];
    return 0;
}

}  // namespace

int upscale_strided(const StridedImage& lr, const StridedImage& hr, const qm_options* options) {
    if (has_plain_rows(lr) && has_plain_rows(hr))
        return qm_upscale(lr.origin, lr.width, lr.height, lr.row_step, hr.origin, hr.row_step,
                          options);
    RowCursor cursor = {&lr, &hr, 0, 0};
    return qm_upscale_rows(lr.width, lr.height, gather_row, scatter_row, &cursor, options);
}

}  // namespace quillmorph_python
