// When an estimate is used, and what it makes of its target.
//
// The estimator of one target, the batch estimator and the refinement
// passes all take these decisions from here.
#ifndef QUILLMORPH_INTERP_ACCEPTANCE_H
#define QUILLMORPH_INTERP_ACCEPTANCE_H

#include <cmath>

#include "interp/lattice.h"

namespace quillmorph {

// A solve is accepted when the last diagonal entry of the reduced matrix is
// at least this (the solver leaves exactly 1.0 or exactly zero there).
constexpr double acceptance_threshold = 0.001;

// A fit with a larger coefficient is singular up to rounding (two ramps
// meeting at a straight edge), and its prediction amplifies the rounding of
// the training pixels.
constexpr double max_model_coefficient = 8.0;

// Every bound on values is a multiple of the maxval M, the largest sample
// value (255 for 8-bit images): the fits themselves have no intercept and
// are accepted on exact pivots, so they do not depend on the scale.
//
// Block values more than a full range outside 0..M (below -M, above 2M)
// are not estimates: a second guard, behind the limit on the model
// coefficients, against fits that were nearly singular.
inline double plausible_block_min(double maxval) { return -maxval; }
inline double plausible_block_max(double maxval) { return 2.0 * maxval; }

// The model fit, from the last diagonal entry of its reduced matrix and its
// coefficients: every column found a pivot, and every coefficient is finite
// and at most max_model_coefficient in magnitude.
inline bool model_fit_accepted(double last_diagonal, const double (&a)[model_order]) {
    if (last_diagonal < acceptance_threshold) return false;
    bool moderate = true;
    for (double coefficient : a)
        moderate = moderate && std::fabs(coefficient) <= max_model_coefficient;
    return moderate;
}

// True when the nine inner elements of block (the ones a fusion reads) are
// all finite and within plausible_block_min..plausible_block_max.
inline bool block_is_plausible(const Lattice& lattice, const double* block, double maxval) {
    const double low = plausible_block_min(maxval), high = plausible_block_max(maxval);
    for (int element : lattice.fusion_element) {
        const double v = block[element];
        if (!std::isfinite(v) || v < low || v > high) return false;
    }
    return true;
}

// The block solution, from the last diagonal entry of its reduced matrix
// and the solution: every column found a pivot, and the elements a fusion
// reads are plausible.
inline bool block_accepted(double last_diagonal, const Lattice& lattice, const double* block,
                           double maxval) {
    return !(last_diagonal < acceptance_threshold) && block_is_plausible(lattice, block, maxval);
}

// The new value of an accepted target: its block's centre when that lies
// within 0..M, its current value otherwise.
inline double target_value(double centre, double current, double maxval) {
    return centre >= 0.0 && centre <= maxval ? centre : current;
}

}  // namespace quillmorph

#endif
