// Block stores: gathering the pre-pass blocks and fusing the estimates.
//
// A fusion replaces a cell by the mean of the nine blocks whose inner 3 x 3
// elements cover it.  The block centred at X holds the cell X + offset(e) as
// its element e, so the cell (r, c) appears in the block centred at
// (r, c) - offset(e) as element e, for each inner element e.  The terms are
// added in the lattice's fusion order, left to right, starting from the first
// term: that order is part of the result.
#include "interp/block_store.h"

#include "interp/lattice.h"

namespace {

constexpr double fusion_divisor = 9.0;  // a plain mean of the nine estimates

// Slot distance from the block centred at the cell to the block centred at
// the cell - offset, for each fusion term.  slot_of_offset maps an HR offset
// between two block centres to a slot distance.
template <typename SlotOfOffset>
void fusion_slot_deltas(const Lattice& lattice, SlotOfOffset slot_of_offset,
                        std::ptrdiff_t* deltas) {
    for (int i = 0; i < fusion_terms; ++i) {
        const Offset element = lattice.block[lattice.fusion_element[i]];
        deltas[i] = slot_of_offset(-element.dr, -element.dc);
    }
}

double fused_value(const double* store, std::size_t slot, const Lattice& lattice,
                   const std::ptrdiff_t* deltas) {
    const double* centre = store + slot * block_size;
    double sum = centre[deltas[0] * block_size + lattice.fusion_element[0]];
    for (int i = 1; i < fusion_terms; ++i)
        sum += centre[deltas[i] * block_size + lattice.fusion_element[i]];
    return sum / fusion_divisor;
}

// Copies the block centred at (r, c) from the grid into slot.
void gather_block(const double* grid, std::ptrdiff_t w2, std::ptrdiff_t r, std::ptrdiff_t c,
                  const Lattice& lattice, double* slot) {
    for (int k = 0; k < block_size; ++k)
        slot[k] = grid[(r + lattice.block[k].dr) * w2 + (c + lattice.block[k].dc)];
}

// Gathers every axial slot centred at rows first_r, first_r + 2, ..., last_r
// and columns first_c, ..., last_c (steps of 2).
void gather_axial_family(const double* grid, double* store, int w2, int first_r, int last_r,
                         int first_c, int last_c) {
    for (int r = first_r; r <= last_r; r += 2)
        for (int c = first_c; c <= last_c; c += 2)
            gather_block(grid, w2, r, c, axial_lattice, store + axial_slot(r, c, w2) * block_size);
}

void fuse_axial_family(double* grid, const double* store, int w2, const std::ptrdiff_t* deltas,
                       int first_r, int last_r, int first_c, int last_c) {
    for (int r = first_r; r <= last_r; r += 2)
        for (int c = first_c; c <= last_c; c += 2)
            grid[static_cast<std::ptrdiff_t>(r) * w2 + c] =
                fused_value(store, axial_slot(r, c, w2), axial_lattice, deltas);
}

}  // namespace

std::size_t diagonal_store_doubles(int w2, int h2) {
    return static_cast<std::size_t>(w2 / 2) * static_cast<std::size_t>(h2 / 2) * block_size;
}

std::size_t axial_store_doubles(int w2, int h2) {
    return static_cast<std::size_t>(w2) * static_cast<std::size_t>(h2) * block_size;
}

std::size_t diagonal_slot(int r, int c, int w2) {
    return static_cast<std::size_t>((r - 1) / 2) * static_cast<std::size_t>(w2 / 2) +
           static_cast<std::size_t>((c - 1) / 2);
}

std::size_t axial_slot(int r, int c, int w2) {
    return static_cast<std::size_t>(r) * static_cast<std::size_t>(w2) + static_cast<std::size_t>(c);
}

// Diagonal slots (br, bc) with all 25 cells inside the grid: br = 2..H-3,
// bc = 2..W-3, centred at (2br + 1, 2bc + 1).
void gather_diagonal_blocks(const double* grid, double* store, int w2, int h2) {
    for (int r = 5; r <= h2 - 5; r += 2)
        for (int c = 5; c <= w2 - 5; c += 2)
            gather_block(grid, w2, r, c, diagonal_lattice,
                         store + diagonal_slot(r, c, w2) * block_size);
}

// Axial slots with all 25 cells inside the grid, (even, odd) ones first.
void gather_axial_blocks(const double* grid, double* store, int w2, int h2) {
    gather_axial_family(grid, store, w2, 4, h2 - 6, 5, w2 - 5);
    gather_axial_family(grid, store, w2, 5, h2 - 5, 4, w2 - 6);
}

// The diagonal cells two cells inside the estimated area: 7 <= r, c and
// r <= H2 - 9, c <= W2 - 9.
void fuse_diagonal_blocks(double* grid, const double* store, int w2, int h2) {
    const std::ptrdiff_t w = w2 / 2;
    std::ptrdiff_t deltas[fusion_terms];
    fusion_slot_deltas(diagonal_lattice,
                       [w](int dr, int dc) { return (dr / 2) * w + dc / 2; }, deltas);
    for (int r = 7; r <= h2 - 9; r += 2)
        for (int c = 7; c <= w2 - 9; c += 2)
            grid[static_cast<std::ptrdiff_t>(r) * w2 + c] =
                fused_value(store, diagonal_slot(r, c, w2), diagonal_lattice, deltas);
}

// The axial cells with 7 <= r <= H2 - 9 and 7 <= c <= W2 - 9: the (odd, even)
// family first, then the (even, odd) one.
void fuse_axial_blocks(double* grid, const double* store, int w2, int h2) {
    const std::ptrdiff_t stride = w2;
    std::ptrdiff_t deltas[fusion_terms];
    fusion_slot_deltas(axial_lattice,
                       [stride](int dr, int dc) { return dr * stride + dc; }, deltas);
    fuse_axial_family(grid, store, w2, deltas, 7, h2 - 9, 8, w2 - 10);
    fuse_axial_family(grid, store, w2, deltas, 8, h2 - 10, 7, w2 - 9);
}
