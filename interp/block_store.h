// Block stores: the block estimates of a pass, and their fusion.
//
// A fusion reads only the nine inner elements of a block (those within one
// lattice step of its centre), so a slot keeps just those: nine doubles,
// slot element i holding block element lattice.fusion_element[i].
//
// A store holds the slots of `rows` consecutive HR rows, W = w2 / 2 slots a
// row: the target (r, c) has the slot (r mod rows) * W + c / 2 (a row holds
// targets at every other column).  A pass sweeps down the grid and reuses a
// slot row once no fusion needs it any more; a store with rows = h2 holds
// the whole grid.
#ifndef QUILLMORPH_INTERP_BLOCK_STORE_H
#define QUILLMORPH_INTERP_BLOCK_STORE_H

#include <cstddef>

#include "interp/lattice.h"
#include "interp/pass_area.h"

namespace quillmorph {

constexpr int slot_size = fusion_terms;  // doubles per slot

// Number of doubles in a store of `rows` slot rows for a grid w2 cells wide.
std::size_t store_doubles(int w2, int rows);

// The slot of the target (r, c).
double* slot_of(double* store, int w2, int rows, int r, int c);
const double* slot_of(const double* store, int w2, int rows, int r, int c);

// The slot element that holds the block's centre.
int slot_centre(const Lattice& lattice);

// Keeps what a fusion needs of a 25-element block estimate in slot.
void keep_block(const Lattice& lattice, const double* block, double* slot);

// Fills the slot of a block with the current values of its cells, read from
// the estimator window of its centre (the top-left corner of the 11 x 11
// cells around it, rows `stride` apart).
void gather_block(const Lattice& lattice, const double* window, int stride, double* slot);

// Replaces the cells `columns` of HR row r, held at `row`, by the mean of the
// nine block estimates that cover each, added in the lattice's fusion order.
// Reads the store only; the slots of rows r - 2 .. r + 2 must be in it.
void fuse_row(const Lattice& lattice, double* row, const double* store, int w2, int rows, int r,
              RowSpan columns);

// The fusion of a whole pass from a store that holds the whole grid.
void fuse_diagonal_blocks(double* grid, const double* store, int w2, int h2);
void fuse_axial_blocks(double* grid, const double* store, int w2, int h2);

}  // namespace quillmorph

#endif
