#include "interp/row_ring.h"

#include <algorithm>

namespace quillmorph {

namespace {

std::ptrdiff_t ring_index(const RowRing& ring, int r) { return r % ring.rows; }

double* ring_row_at(const RowRing& ring, std::ptrdiff_t index) {
    return ring.cells + index * ring.w2;
}

}  // namespace

std::size_t ring_doubles(int w2, int h2, int rows) {
    const int repeated = rows < h2 ? window_span - 1 : 0;
    return static_cast<std::size_t>(rows + repeated) * static_cast<std::size_t>(w2);
}

RowRing make_row_ring(double* cells, int w2, int h2, int rows) {
    return RowRing{cells, w2, rows, rows < h2 ? window_span - 1 : 0};
}

double* ring_row(const RowRing& ring, int r) { return ring_row_at(ring, ring_index(ring, r)); }

void repeat_row(const RowRing& ring, int r) {
    const std::ptrdiff_t index = ring_index(ring, r);
    if (index >= ring.repeated) return;
    const double* row = ring_row_at(ring, index);
    std::copy(row, row + ring.w2, ring_row_at(ring, index + ring.rows));
}

void repeat_cells(const RowRing& ring, int r, RowSpan cells) {
    const std::ptrdiff_t index = ring_index(ring, r);
    if (index >= ring.repeated) return;
    const double* row = ring_row_at(ring, index);
    double* repeat = ring_row_at(ring, index + ring.rows);
    for (int c = cells.first; c <= cells.last; c += 2) repeat[c] = row[c];
}

}  // namespace quillmorph
