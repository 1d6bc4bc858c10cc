// Upscaling between images laid out as numpy lays out its arrays and views:
// samples any number of bytes apart along a row and down a column, in either
// direction, of 8 or 16 bits, the 16-bit ones in either byte order.  Only
// the library's public API is used.
#ifndef QUILLMORPH_PYTHON_STRIDED_UPSCALE_H
#define QUILLMORPH_PYTHON_STRIDED_UPSCALE_H

#include <cstddef>

#include "quillmorph.h"

namespace quillmorph_python {

// An image whose sample (x, y) is the sample_bytes bytes (1 or 2) at
// origin + y * row_step + x * column_step; steps may be zero or negative,
// and 16-bit samples need not be aligned.  swapped: 16-bit samples stored
// in the other byte order than the machine's.
struct StridedImage {
    unsigned char* origin;
    int width, height;
    std::ptrdiff_t row_step, column_step;
    int sample_bytes;
    bool swapped;
};

// Whether the library can take the image with its own row stride: samples
// side by side in increasing order, aligned and in the machine's byte order.
bool has_plain_rows(const StridedImage& image);

// Upscales lr into hr, which is 2 * lr.width x 2 * lr.height of samples as
// wide as lr's and in the machine's byte order, and returns the library's
// status.  lr is never written.  Where both have plain rows, qm_upscale (or
// qm_upscale16) reads and writes them in place; otherwise the row-by-row
// call takes the rows one at a time, copied (and byte-swapped) into and out
// of its own row buffers.  The caller makes sure that lr and hr do not
// overlap: only the whole-image call can check it.  maxval is the one
// options holds: a sample above it fails with QM_ERROR_SAMPLE before any
// row of hr is written, whichever call does the work.
int upscale_strided(const StridedImage& lr, const StridedImage& hr, int maxval,
                    const qm_options* options);

}  // namespace quillmorph_python

#endif
