// Block stores: the 25-value block estimates of a pass, and their fusion.
//
// A store is one contiguous array of blocks, slot i at doubles 25i..25i+24.
// The diagonal store has W x H slots, slot (br, bc) centred at HR
// (2br + 1, 2bc + 1); the axial store has W2 x H2 slots, slot r * W2 + c
// centred at HR (r, c).  Element k of a slot is block position k of the
// pass's lattice (interp/lattice.h).
#ifndef QUILLMORPH_INTERP_BLOCK_STORE_H
#define QUILLMORPH_INTERP_BLOCK_STORE_H

#include <cstddef>

// Number of doubles in each store for an HR grid of w2 x h2 cells.
std::size_t diagonal_store_doubles(int w2, int h2);
std::size_t axial_store_doubles(int w2, int h2);

// Slot index of the target (r, c) in each store.
std::size_t diagonal_slot(int r, int c, int w2);
std::size_t axial_slot(int r, int c, int w2);

// Fill every slot that an estimator loop or a fusion uses with the grid's
// current values.  Read the grid only.
void gather_diagonal_blocks(const double* grid, double* store, int w2, int h2);
void gather_axial_blocks(const double* grid, double* store, int w2, int h2);

// Replace each cell in the interior of the pass's area by the mean of the
// nine block estimates that cover it.  Read the store only.
void fuse_diagonal_blocks(double* grid, const double* store, int w2, int h2);
void fuse_axial_blocks(double* grid, const double* store, int w2, int h2);

#endif
