// Initial upsampling: LR pixels at the even positions, a 4-tap filter elsewhere.
#ifndef QUILLMORPH_INTERP_UPSAMPLE_H
#define QUILLMORPH_INTERP_UPSAMPLE_H

// w, h   LR size; both at least min_image_side (interp/grid.h).
// lr     w x h bytes, row-major, row stride w.
// grid   2w x 2h doubles, row-major, row stride 2w; every cell is written and
//        none is read before it is written, so it need not be cleared.
void upsample_initial(int w, const unsigned char* lr, double* grid, int h);

#endif
