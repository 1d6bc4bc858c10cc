// The two estimators of the refinement passes.
//
// Each fits a four-coefficient linear prediction model to the 16 known cells
// nearest to a target, then solves jointly for a 5 x 5 block of missing cells
// centred on it.  They differ only in their lattice (interp/lattice.h).
#ifndef QUILLMORPH_INTERP_ESTIMATOR_H
#define QUILLMORPH_INTERP_ESTIMATOR_H

#include "interp/acceptance.h"
#include "interp/lattice.h"
#include "interp/vector_kernels.h"
#include "linalg/solve_batch.h"

namespace quillmorph {

// One thread's estimator: the maxval of the image it works on, and the
// scratch of its solves (about 47 KB), allocated with the rest of a run's
// memory so that nothing is allocated once the rows flow.  Each call clears
// and refills the scratch.  After a call that accepted its estimate,
// block_vector holds the block solution (element k for block position k) in
// its nine inner elements (lattice.fusion_element, the ones a fusion reads
// and a pass keeps) until the next call; the solve does not finish the
// outer sixteen, which hold intermediate values.
struct Estimator {
    // The block systems of a batch, one target in each system.
    batch_entry batch_vector[block_size];
    batch_entry batch_matrix[block_size * block_size];
    double model_vector[model_order];
    double model_matrix[model_order * model_order];
    double block_vector[block_size];
    double block_matrix[block_size * block_size];
    double maxval;
    const VectorKernels* kernels;  // the batches' (never nullptr)
};

// count estimators for images of the given maxval, running the process's
// vector kernels, or nullptr when memory is short or there are no kernels
// (vector_kernels()); released with free_estimators.
Estimator* new_estimators(int count, double maxval);
void free_estimators(Estimator* estimators);

// window    points at HR (r - 5, c - 5), the top-left corner of the 11 x 11
//           neighbourhood of the target (r, c); the whole of it lies in the grid.
// stride    doubles per HR row (W2).
// accepted  set to 1 when the returned value and block_vector are to be used,
//           to 0 when not (the returned value is then 0.0).  A call is
//           rejected when either solve met a column without a pivot, when a
//           model coefficient is not finite or exceeds max_model_coefficient
//           in magnitude, or when one of the block's inner 3 x 3 elements
//           (those a fusion reads) is not finite or lies outside -M..2M,
//           M the estimator's maxval.
// Returns the new value of the target: the block solution's centre, or the
// target's current value when that centre lies outside 0..M.
double estimate_diagonal(Estimator& e, const double* window, int stride,
                         int* accepted);                                               // r, c odd
double estimate_axial(Estimator& e, const double* window, int stride, int* accepted);  // r + c odd

// Estimates count targets of one lattice with the same results as one call
// each: accepted[t] as for estimate_diagonal, and when accepted, blocks[t]
// holds the block estimate in its nine inner elements (the others are
// unspecified).  The centre rule is left to the caller.  The model fits are
// solved a batch at a time side by side, and so are the block systems of
// the targets whose fit is regular, which is several times faster than one at a
// time; the more targets a call has, the fuller the batches.
void estimate_batch(Estimator& e, const Lattice& lattice, const double* const windows[], int count,
                    int stride, int accepted[], double blocks[][block_size]);

}  // namespace quillmorph

#endif
