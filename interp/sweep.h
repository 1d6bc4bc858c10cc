// The order of work in a pass's sweep down the grid.
//
// Each pass estimates its target rows, each into a ring of slot rows, and
// finishes them (stores the new target values and fuses) once nothing can
// read their pre-pass values any more.  Threads claim rows in order, so
// rows are estimated out of order only by a thread or two; rows are
// finished strictly in order.  These functions decide, from the progress so
// far, which row may be claimed and how far rows may be finished; the
// threads in interp/refine.cpp only keep the progress and follow them.
#ifndef QUILLMORPH_INTERP_SWEEP_H
#define QUILLMORPH_INTERP_SWEEP_H

#include "interp/lattice.h"

// A fusion reads the slots of the targets up to two rows above and below
// its cell, and a rejected target's gather reads its pass's cells as far.
constexpr int fusion_reach = 2;

// Rows are finished this far behind the estimated rows.  Only the gathers
// of the targets still to come need pre-pass values there, fusion_reach
// rows up; the estimators read no cell a pass writes.  The longer lag keeps
// the writes out of the cache lines that other threads' windows, reaching
// window_radius rows up, are reading.
constexpr int finish_lag = window_radius + 1;

// The fewest slot rows with which a single thread can always claim the row
// after the one it finished: row r may be claimed once row
// r - store_rows + fusion_reach is finished, and the rows finished trail the
// estimated ones by finish_lag.
constexpr int min_store_rows = finish_lag + fusion_reach + 1;

// Row `row` fills slot row row mod store_rows, which last held the slots of
// row - store_rows; the last fusion to read those is that of row
// row - store_rows + fusion_reach.  True once that row is finished.
inline bool may_claim(int row, int finished_through, int store_rows) {
    return row - store_rows + fusion_reach <= finished_through;
}

// The last row that may be finished when every target row through
// estimated_through is estimated: finish_lag rows behind, or every row of
// the grid once the last target row is estimated.
inline int finishable_through(int estimated_through, int last_target, int h2) {
    return estimated_through >= last_target ? h2 - 1 : estimated_through - finish_lag;
}

// Given that every row through estimated_through is estimated and
// estimated[r] marks the others that are, the row through which all are;
// at most last_target.
inline int advance_estimated(const char* estimated, int estimated_through, int last_target) {
    while (estimated_through < last_target && estimated[estimated_through + 1]) ++estimated_through;
    return estimated_through;
}

#endif
