// Initial upsampling: LR pixels at the even positions, a 4-tap filter elsewhere.
#ifndef QUILLMORPH_INTERP_UPSAMPLE_H
#define QUILLMORPH_INTERP_UPSAMPLE_H

#include <cstdint>

namespace quillmorph {

// The filter reaches this many LR rows above and below the one a grid row
// lies on (up to lr_rows_below below): HR row r is made from LR rows
// r / 2 - 1 .. r / 2 + 2, those that exist.
constexpr int lr_rows_above = 1;
constexpr int lr_rows_below = 2;
constexpr int lr_rows_per_hr_row = lr_rows_above + 1 + lr_rows_below;

// Fills HR row r (2w doubles) of the 2w x 2h grid of a w x h LR image, both
// sides at least min_image_side (interp/grid.h), its samples at most maxval
// (the filter's values are clamped to 0..maxval).  LR row i is w samples at
// lr + (i mod lr_rows) * w: a ring of at least lr_rows_per_hr_row rows, or
// the whole image with lr_rows = h.  Sample is unsigned char or
// std::uint16_t.
template <typename Sample>
void upsample_row(int w, int h, const Sample* lr, int lr_rows, int r, double maxval, double* out);

// The whole 2w x 2h grid (row stride 2w) from the whole w x h image (row
// stride w).
template <typename Sample>
void upsample_initial(int w, const Sample* lr, double* grid, int h, double maxval);

extern template void upsample_row(int, int, const unsigned char*, int, int, double, double*);
extern template void upsample_row(int, int, const std::uint16_t*, int, int, double, double*);
extern template void upsample_initial(int, const unsigned char*, double*, int, double);
extern template void upsample_initial(int, const std::uint16_t*, double*, int, double);

}  // namespace quillmorph

#endif
