// The refinement passes written the straightforward way, as a test oracle.
//
// One target at a time, in raster order; whole-image block stores of full
// 25-element blocks; the reference elimination for both systems; every rule
// written out from its formula here rather than taken from the engine's
// lattice tables.  It is slow (about 30 µs per LR pixel) and holds 1 KB per
// LR pixel, and it exists so that the fast engine can be compared with it bit
// for bit.
#ifndef QUILLMORPH_TESTS_REFERENCE_REFERENCE_REFINE_H
#define QUILLMORPH_TESTS_REFERENCE_REFERENCE_REFINE_H

namespace quillmorph {

namespace reference {

enum class Lattice { diagonal, axial };

struct Rules {
    // Reject a model fit whose coefficients exceed 8 in magnitude (or are not
    // finite).  Off only to measure what the rule buys.
    bool limit_model_coefficients = true;
    // The largest sample value M: blocks outside -M..2M are rejected, and
    // centres outside 0..M leave their target as it was.
    int maxval = 255;
};

// One estimate of the target (r, c) of the 2w x 2h grid `grid` (row stride
// w2), which must be at least five cells from every edge.  Returns the new
// value of the target and sets *accepted; when accepted, block receives the
// 25-element block solution.
double estimate(Lattice lattice, const double* grid, int w2, int r, int c, Rules rules,
                int* accepted, double block[25]);

// Runs the diagonal pass and then the axial pass on the 2w x 2h grid.
void refine(double* grid, int w, int h, Rules rules = Rules{});

// The output sample of a grid value: add 0.5, truncate, clamp to
// 0..maxval; NaN becomes 0.
int output_sample(double value, int maxval = 255);

}  // namespace reference

}  // namespace quillmorph

#endif
