// Block stores: gathering the pre-pass blocks and fusing the estimates.
//
// A fusion replaces a cell by the mean of the nine blocks whose inner 3 x 3
// elements cover it.  The block centred at X holds the cell X + offset(e) as
// its element e, so the cell (r, c) appears in the block centred at
// (r, c) - offset(e) as element e, for each inner element e.  The terms are
// added in the lattice's fusion order, left to right, starting from the first
// term: that order is part of the result.
#include "interp/block_store.h"

namespace {

constexpr double fusion_divisor = 9.0;  // a plain mean of the nine estimates

using SlotOf = std::size_t (*)(int r, int c, int w2);

// Distance in slots from the slot of (r, c) to the slot of the block whose
// i-th kept element is the cell (r, c), for a target (r, c) of one family:
// every target of the family has the same distances.
void fusion_slot_deltas(const Lattice& lattice, SlotOf slot_of, int r, int c, int w2,
                        std::ptrdiff_t* deltas) {
    const std::ptrdiff_t here = static_cast<std::ptrdiff_t>(slot_of(r, c, w2));
    for (int i = 0; i < fusion_terms; ++i) {
        const Offset element = lattice.block[lattice.fusion_element[i]];
        deltas[i] = static_cast<std::ptrdiff_t>(slot_of(r - element.dr, c - element.dc, w2)) - here;
    }
}

double fused_value(const double* slot, const std::ptrdiff_t* deltas) {
    double sum = slot[deltas[0] * slot_size];
    for (int i = 1; i < fusion_terms; ++i) sum += slot[deltas[i] * slot_size + i];
    return sum / fusion_divisor;
}

// Fuses the cells at rows first_r, first_r + 2, ..., last_r and columns
// first_c, ..., last_c (steps of 2), all of one family.
void fuse_family(const Lattice& lattice, SlotOf slot_of, double* grid, const double* store,
                 int w2, int first_r, int last_r, int first_c, int last_c) {
    if (first_r > last_r || first_c > last_c) return;
    std::ptrdiff_t deltas[fusion_terms];
    fusion_slot_deltas(lattice, slot_of, first_r, first_c, w2, deltas);
    for (int r = first_r; r <= last_r; r += 2)
        for (int c = first_c; c <= last_c; c += 2)
            grid[static_cast<std::ptrdiff_t>(r) * w2 + c] =
                fused_value(store + slot_of(r, c, w2) * slot_size, deltas);
}

}  // namespace

std::size_t diagonal_store_doubles(int w2, int h2) {
    return static_cast<std::size_t>(w2 / 2) * static_cast<std::size_t>(h2 / 2) * slot_size;
}

std::size_t axial_store_doubles(int w2, int h2) {
    return static_cast<std::size_t>(w2 / 2) * static_cast<std::size_t>(h2) * slot_size;
}

std::size_t diagonal_slot(int r, int c, int w2) {
    return static_cast<std::size_t>((r - 1) / 2) * static_cast<std::size_t>(w2 / 2) +
           static_cast<std::size_t>((c - 1) / 2);
}

std::size_t axial_slot(int r, int c, int w2) {
    return static_cast<std::size_t>(r) * static_cast<std::size_t>(w2 / 2) +
           static_cast<std::size_t>(c / 2);
}

int slot_centre(const Lattice& lattice) {
    for (int i = 0; i < fusion_terms; ++i)
        if (lattice.fusion_element[i] == block_centre) return i;
    return 0;  // every fusion order holds the centre
}

void keep_block(const Lattice& lattice, const double* block, double* slot) {
    for (int i = 0; i < fusion_terms; ++i) slot[i] = block[lattice.fusion_element[i]];
}

void gather_block(const Lattice& lattice, const double* grid, int w2, int r, int c, double* slot) {
    for (int i = 0; i < fusion_terms; ++i) {
        const Offset at = lattice.block[lattice.fusion_element[i]];
        slot[i] = grid[static_cast<std::ptrdiff_t>(r + at.dr) * w2 + (c + at.dc)];
    }
}

// The diagonal cells two cells inside the estimated area: 7 <= r, c and
// r <= H2 - 9, c <= W2 - 9.
void fuse_diagonal_blocks(double* grid, const double* store, int w2, int h2) {
    fuse_family(diagonal_lattice, diagonal_slot, grid, store, w2, 7, h2 - 9, 7, w2 - 9);
}

// The axial cells with 7 <= r <= H2 - 9 and 7 <= c <= W2 - 9: the (odd, even)
// family first, then the (even, odd) one.
void fuse_axial_blocks(double* grid, const double* store, int w2, int h2) {
    fuse_family(axial_lattice, axial_slot, grid, store, w2, 7, h2 - 9, 8, w2 - 10);
    fuse_family(axial_lattice, axial_slot, grid, store, w2, 8, h2 - 10, 7, w2 - 9);
}
