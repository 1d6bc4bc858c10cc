// The stages of the estimators, one routine for both lattices.
//
// estimate_diagonal and estimate_axial are estimate_on_lattice with
// diagonal_lattice or axial_lattice.  The stages are declared here so that
// the tests can inspect each assembled system before it is solved.
#ifndef QUILLMORPH_INTERP_ESTIMATOR_STEPS_H
#define QUILLMORPH_INTERP_ESTIMATOR_STEPS_H

#include "interp/estimator.h"
#include "interp/lattice.h"

namespace quillmorph {

// Normal equations of the model fit: e.model_matrix = DᵀD and e.model_vector =
// Dᵀt, D holding one row per training pixel (its four neighbours at twice the
// lattice directions) and t the training pixels, summed in training order.
// window and stride as for estimate_diagonal.  Overwrites model_vector and
// model_matrix.
void assemble_model_system(Estimator& e, const Lattice& lattice, const double* window, int stride);

// Normal equations of the block estimate for the coefficients a0..a3 held in
// model_vector: block_matrix = I + CᵀC and block_vector = p + Cᵀy, with p the
// model's prediction of each block position from its four window neighbours
// and C one row per training pixel y, holding a0..a3 in the columns of its
// four neighbouring block positions.  Overwrites block_vector and
// block_matrix; reads model_vector.
void assemble_block_system(Estimator& e, const Lattice& lattice, const double* window, int stride);

// The whole estimate on one lattice; see estimate_diagonal.
double estimate_on_lattice(Estimator& e, const Lattice& lattice, const double* window, int stride,
                           int* accepted);

}  // namespace quillmorph

#endif
