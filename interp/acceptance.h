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
// meeting at a straight edge), and its prediction amplifies the 8-bit
// rounding of the training pixels.
constexpr double max_model_coefficient = 8.0;

// Block values more than a full pixel range outside 0..255 are not
// estimates: a second guard, behind the limit on the model coefficients,
// against fits that were nearly singular.
constexpr double plausible_block_min = -255.0;
constexpr double plausible_block_max = 510.0;

// An accepted block's centre becomes the target's value only within 0..255.
constexpr double centre_min = 0.0;
constexpr double centre_max = 255.0;

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
inline bool block_is_plausible(const Lattice& lattice, const double* block) {
    for (int element : lattice.fusion_element) {
        const double v = block[element];
        if (!std::isfinite(v) || v < plausible_block_min || v > plausible_block_max) return false;
    }
    return true;
}

// The block solution, from the last diagonal entry of its reduced matrix
// and the solution: every column found a pivot, and the elements a fusion
// reads are plausible.
inline bool block_accepted(double last_diagonal, const Lattice& lattice, const double* block) {
    return !(last_diagonal < acceptance_threshold) && block_is_plausible(lattice, block);
}

// The new value of an accepted target: its block's centre when that lies
// within centre_min..centre_max, its current value otherwise.
inline double target_value(double centre, double current) {
    return centre >= centre_min && centre <= centre_max ? centre : current;
}

}  // namespace quillmorph

#endif
