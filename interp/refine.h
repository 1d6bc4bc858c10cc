// The two refinement passes over the HR grid.
#ifndef QUILLMORPH_INTERP_REFINE_H
#define QUILLMORPH_INTERP_REFINE_H

// Runs the diagonal pass and then the axial pass on the 2w x 2h grid, on as
// many threads as the process may run on.  Returns 0, or -1 when a block
// store could not be allocated.
int refine_image(double* grid, int w, int h);

// Slot rows in each pass's store: the rows being estimated may run this far
// ahead of the last fused row, enough to keep every thread busy while the
// store stays small.
constexpr int default_store_rows = 64;

// The same on the given number of threads (at least 1) with stores of the
// given number of slot rows (at least min_store_rows, interp/sweep.h); the
// result is the same bits for any of them.
int refine_image_threads(double* grid, int w, int h, int threads,
                         int store_rows = default_store_rows);

// The number of processors this process may run on (its affinity mask and
// CPU quota on Linux), at most the number of threads a pass will start.
int available_threads();

#endif
