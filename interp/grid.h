// Sizes of the LR image and the HR grid, checked before anything is allocated.
#ifndef QUILLMORPH_INTERP_GRID_H
#define QUILLMORPH_INTERP_GRID_H

#include <cstddef>

namespace quillmorph {

// The upsampling filter reaches three LR rows and columns into the image.
constexpr int min_image_side = 3;

// Returns 1 when a w x h LR image has sides a run can take: both at least
// min_image_side, and 2w and 2h fit an int.  Returns 0 otherwise.  Whether
// its rings fit in memory depends on the run's layout as well (rings_fit in
// interp/upscale.h).
int image_size_supported(int w, int h);

// Element counts of a whole image and its whole grid, for keeping them in
// memory (the tests and tools do); a count that does not fit is SIZE_MAX.
std::size_t lr_pixel_count(int w, int h);
std::size_t hr_cell_count(int w, int h);

// Allocates count doubles, uninitialised, for the grid and the block stores;
// released with free_doubles (aligned memory has its own release on Windows).  Large buffers are
// asked to be backed by huge pages where the system offers them: the first touch of each page costs
// a fault, and with 4 KiB pages those faults were a tenth of the run time. Returns nullptr when the
// memory cannot be had.
double* allocate_doubles(std::size_t count);
void free_doubles(double* memory);

}  // namespace quillmorph

#endif
