// The HR grid as a ring of rows.
//
// Grid row r lives in ring row r mod rows.  The estimators are handed their
// 11 x 11 window as one pointer and a row stride, so the rows of every
// window must follow each other in memory: when the ring is shorter than
// the grid, its first window_span - 1 rows are repeated after its last, and
// every write to one of them goes to its repeat as well.  A ring as tall as
// the grid is the whole grid, with no repeats.
#ifndef QUILLMORPH_INTERP_ROW_RING_H
#define QUILLMORPH_INTERP_ROW_RING_H

#include <cstddef>

#include "interp/lattice.h"
#include "interp/pass_area.h"

namespace quillmorph {

constexpr int window_span = 2 * window_radius + 1;

struct RowRing {
    double* cells;
    int w2;        // cells per row
    int rows;      // ring rows
    int repeated;  // ring rows repeated after the last: 0 or window_span - 1
};

// The number of doubles of a ring of `rows` rows for a grid w2 x h2.
std::size_t ring_doubles(int w2, int h2, int rows);

// A ring over cells, which holds ring_doubles(w2, h2, rows) doubles.
RowRing make_row_ring(double* cells, int w2, int h2, int rows);

// Grid row r; rows r + 1 .. r + window_span - 1 follow it in memory.
double* ring_row(const RowRing& ring, int r);

// After row r was written whole, or its cells `cells` (every other column)
// were: copies them to the row's repeat, if it has one.
void repeat_row(const RowRing& ring, int r);
void repeat_cells(const RowRing& ring, int r, RowSpan cells);

}  // namespace quillmorph

#endif
