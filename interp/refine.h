// The two refinement passes over the HR grid.
#ifndef QUILLMORPH_INTERP_REFINE_H
#define QUILLMORPH_INTERP_REFINE_H

// Runs the diagonal pass and then the axial pass on the 2w x 2h grid.
// Returns 0, or -1 when a block store could not be allocated (the grid is
// then left as it was before the failing pass).
int refine_image(double* grid, int w, int h);

#endif
