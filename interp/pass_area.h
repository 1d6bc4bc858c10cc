// Where each refinement pass estimates and where it fuses, row by row.
//
// Targets keep a margin of five cells from every edge, so that every 11 x 11
// estimator window lies inside the grid.  The fused area is the estimated
// area shrunk by two cells on every side, so that all nine blocks covering a
// fused cell belong to targets.
#ifndef QUILLMORPH_INTERP_PASS_AREA_H
#define QUILLMORPH_INTERP_PASS_AREA_H

namespace quillmorph {

enum Pass { diagonal_pass, axial_pass };

// Columns first, first + 2, ..., last of one HR row; empty when first > last.
struct RowSpan {
    int first;
    int last;
};

// The targets of a pass in HR row r of a w2 x h2 grid.
RowSpan target_columns(Pass pass, int r, int w2, int h2);

// The cells of HR row r that a pass's fusion rewrites.
RowSpan fused_columns(Pass pass, int r, int w2, int h2);

// The first and last HR rows that hold targets of any pass.
constexpr int first_target_row = 5;
inline int last_target_row(int h2) { return h2 - 7; }

}  // namespace quillmorph

#endif
