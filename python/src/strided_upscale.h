// Upscaling between images laid out as numpy lays out its arrays and views:
// pixels any number of bytes apart along a row and down a column, in either
// direction.  Only the library's public API is used.
#ifndef QUILLMORPH_PYTHON_STRIDED_UPSCALE_H
#define QUILLMORPH_PYTHON_STRIDED_UPSCALE_H

#include <cstddef>

#include "quillmorph.h"

namespace quillmorph_python {

// An 8-bit image whose pixel (x, y) is the byte at
// origin + y * row_step + x * column_step; steps may be zero or negative.
struct StridedImage {
    unsigned char* origin;
    int width, height;
    std::ptrdiff_t row_step, column_step;
};

// Upscales lr into hr, which is 2 * lr.width x 2 * lr.height, and returns
// the library's status.  lr is never written.  Where both hold each row's
// pixels side by side in increasing order, qm_upscale reads and writes them
// in place; otherwise qm_upscale_rows takes the rows one at a time, copied
// into and out of its own row buffers.  The caller makes sure that lr and hr
// do not overlap: only qm_upscale can check it.
int upscale_strided(const StridedImage& lr, const StridedImage& hr, const qm_options* options);

}  // namespace quillmorph_python

#endif
