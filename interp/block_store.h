// Block stores: the block estimates of a pass, and their fusion.
//
// A fusion reads only the nine inner elements of a block (those within one
// lattice step of its centre), so a store keeps just those: a slot is nine
// doubles, slot element i holding block element lattice.fusion_element[i].
// The diagonal store has W x H slots, slot (br, bc) centred at HR
// (2br + 1, 2bc + 1); the axial store has H2 x W slots, one per axial cell,
// slot r * W + c / 2 centred at HR (r, c).
#ifndef QUILLMORPH_INTERP_BLOCK_STORE_H
#define QUILLMORPH_INTERP_BLOCK_STORE_H

#include <cstddef>

#include "interp/lattice.h"

constexpr int slot_size = fusion_terms;  // doubles per slot

// Number of doubles in each store for an HR grid of w2 x h2 cells.
std::size_t diagonal_store_doubles(int w2, int h2);
std::size_t axial_store_doubles(int w2, int h2);

// Slot index of the target (r, c) in each store.
std::size_t diagonal_slot(int r, int c, int w2);
std::size_t axial_slot(int r, int c, int w2);

// The slot element that holds the block's centre.
int slot_centre(const Lattice& lattice);

// Keeps what a fusion needs of a 25-element block estimate in slot.
void keep_block(const Lattice& lattice, const double* block, double* slot);

// Fills the slot of the block centred at (r, c) with the grid's current
// values of its cells.  Reads the grid only.
void gather_block(const Lattice& lattice, const double* grid, int w2, int r, int c, double* slot);

// Replace each cell in the interior of the pass's area by the mean of the
// nine block estimates that cover it, added in the lattice's fusion order.
// Read the store only.
void fuse_diagonal_blocks(double* grid, const double* store, int w2, int h2);
void fuse_axial_blocks(double* grid, const double* store, int w2, int h2);

#endif
