// Block stores: keeping and gathering blocks, and fusing the estimates.
//
// A fusion replaces a cell by the mean of the nine blocks whose inner 3 x 3
// elements cover it.  The block centred at X holds the cell X + offset(e) as
// its element e, so the cell (r, c) appears in the block centred at
// (r, c) - offset(e) as element e, for each inner element e.  The terms are
// added in the lattice's fusion order, left to right, starting from the first
// term: that order is part of the result.
#include "interp/block_store.h"

namespace quillmorph {

namespace {

constexpr double fusion_divisor = 9.0;  // a plain mean of the nine estimates

std::size_t slot_index(int w2, int rows, int r, int c) {
    return static_cast<std::size_t>(r % rows) * static_cast<std::size_t>(w2 / 2) +
           static_cast<std::size_t>(c / 2);
}

void fuse_pass(Pass pass, const Lattice& lattice, double* grid, const double* store, int w2,
               int h2) {
    for (int r = 0; r < h2; ++r)
        fuse_row(lattice, grid + static_cast<std::ptrdiff_t>(r) * w2, store, w2, h2, r,
                 fused_columns(pass, r, w2, h2));
}

}  // namespace

std::size_t store_doubles(int w2, int rows) {
    return static_cast<std::size_t>(rows) * static_cast<std::size_t>(w2 / 2) * slot_size;
}

double* slot_of(double* store, int w2, int rows, int r, int c) {
    return store + slot_index(w2, rows, r, c) * slot_size;
}

const double* slot_of(const double* store, int w2, int rows, int r, int c) {
    return store + slot_index(w2, rows, r, c) * slot_size;
}

int slot_centre(const Lattice& lattice) {
    for (int i = 0; i < fusion_terms; ++i)
        if (lattice.fusion_element[i] == block_centre) return i;
    return 0;  // every fusion order holds the centre
}

void keep_block(const Lattice& lattice, const double* block, double* slot) {
    for (int i = 0; i < fusion_terms; ++i) slot[i] = block[lattice.fusion_element[i]];
}

void gather_block(const Lattice& lattice, const double* window, int stride, double* slot) {
    for (int i = 0; i < fusion_terms; ++i) {
        const Offset at = lattice.block[lattice.fusion_element[i]];
        slot[i] = window[static_cast<std::ptrdiff_t>(window_radius + at.dr) * stride +
                         (window_radius + at.dc)];
    }
}

void fuse_row(const Lattice& lattice, double* row, const double* store, int w2, int rows, int r,
              RowSpan columns) {
    for (int c = columns.first; c <= columns.last; c += 2) {
        double sum = 0.0;
        for (int i = 0; i < fusion_terms; ++i) {
            const Offset element = lattice.block[lattice.fusion_element[i]];
            const double term = slot_of(store, w2, rows, r - element.dr, c - element.dc)[i];
            sum = i == 0 ? term : sum + term;
        }
        row[c] = sum / fusion_divisor;
    }
}

void fuse_diagonal_blocks(double* grid, const double* store, int w2, int h2) {
    fuse_pass(diagonal_pass, diagonal_lattice, grid, store, w2, h2);
}

void fuse_axial_blocks(double* grid, const double* store, int w2, int h2) {
    fuse_pass(axial_pass, axial_lattice, grid, store, w2, h2);
}

}  // namespace quillmorph
