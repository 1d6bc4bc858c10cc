// Geometry of the two lattices on which the refinement passes work.
//
// Every rule about "which cell is where" lives in this file: the block
// numbering that the estimators solve for and the block stores keep, the
// training pixels of the model fit, the four neighbour directions of the
// prediction model and the order in which a fusion adds its nine terms.
//
// Offsets are HR (row, column) steps from a target cell.  A target of the
// diagonal pass sits at (odd, odd) and its known neighbours are the LR
// samples on the diagonals; a target of the axial pass has row + column odd
// and its known neighbours form a square lattice turned by 45 degrees.
#ifndef QUILLMORPH_INTERP_LATTICE_H
#define QUILLMORPH_INTERP_LATTICE_H

namespace quillmorph {

struct Offset {
    int dr;
    int dc;
};

constexpr int block_side = 5;                        // a block is 5 x 5 cells
constexpr int block_size = block_side * block_side;  // 25 unknowns per block
constexpr int block_centre = block_size / 2;         // element 12 is the target
constexpr int training_side = 4;                     // the fit uses 4 x 4 pixels
constexpr int training_count = training_side * training_side;
constexpr int model_order = 4;   // coefficients a0..a3
constexpr int fusion_terms = 9;  // blocks covering a fused cell

// Both estimators read a window of 11 x 11 cells centred on the target and
// are handed a pointer to its top-left corner, HR (r - 5, c - 5).
constexpr int window_radius = 5;

// Training pixel (q, s), q, s = 0..3, touches the block positions
// u, u + 1, u + 5 and u + 6 (u = 5q + s) through its four model neighbours
// a0..a3.  This holds on both lattices and is checked against the offsets in
// the tests.
constexpr int block_neighbour_step[model_order] = {0, 1, block_side, block_side + 1};

constexpr int training_block_base(int q, int s) { return block_side * q + s; }

// Two block unknowns share an equation only through the four neighbours of
// one training pixel, so the block matrix is banded: entries (i, k) with
// |i - k| > block_bandwidth are zero.
constexpr int block_bandwidth = block_neighbour_step[model_order - 1];

// One lattice: its block positions, its training pixels and the directions of
// the model's four neighbours at distance 1 (the fit uses twice that step).
struct Lattice {
    Offset block[block_size];          // block position k = 5a + b
    Offset training[training_count];   // training pixel 4q + s
    Offset direction[model_order];     // neighbour of coefficient a0..a3
    int fusion_element[fusion_terms];  // the nine inner elements, in summation order
};

constexpr Offset diagonal_block_offset(int k) {
    return {2 * (k / block_side) - 4, 2 * (k % block_side) - 4};
}
constexpr Offset diagonal_training_offset(int t) {
    return {2 * (t / training_side) - 3, 2 * (t % training_side) - 3};
}
constexpr Offset axial_block_offset(int k) {
    return {k / block_side - k % block_side, k / block_side + k % block_side - 4};
}
constexpr Offset axial_training_offset(int t) {
    return {t / training_side - t % training_side, t / training_side + t % training_side - 3};
}

template <Offset (*block_at)(int), Offset (*training_at)(int)>
constexpr Lattice make_lattice(const Offset (&direction)[model_order],
                               const int (&fusion_element)[fusion_terms]) {
    Lattice lattice{};
    for (int k = 0; k < block_size; ++k) lattice.block[k] = block_at(k);
    for (int t = 0; t < training_count; ++t) lattice.training[t] = training_at(t);
    for (int k = 0; k < model_order; ++k) lattice.direction[k] = direction[k];
    for (int i = 0; i < fusion_terms; ++i) lattice.fusion_element[i] = fusion_element[i];
    return lattice;
}

// The two lattices are inline variables: one object each in the whole
// program, so that code may tell them apart by address.
//
// Diagonal lattice: a0..a3 are the NW, NE, SW and SE neighbours.  The fusion
// adds its terms in the order right, centre, left, then the row above, then the
// row below (the element of a neighbouring block that points back at the cell).
constexpr Offset diagonal_directions[model_order] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}};
constexpr int diagonal_fusion_order[fusion_terms] = {11, 12, 13, 17, 18, 16, 7, 8, 6};
inline constexpr Lattice diagonal_lattice =
    make_lattice<diagonal_block_offset, diagonal_training_offset>(diagonal_directions,
                                                                  diagonal_fusion_order);

// Axial lattice: a0..a3 are the left, upper, lower and right neighbours.
constexpr Offset axial_directions[model_order] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};
constexpr int axial_fusion_order[fusion_terms] = {12, 11, 13, 17, 18, 16, 7, 8, 6};
inline constexpr Lattice axial_lattice =
    make_lattice<axial_block_offset, axial_training_offset>(axial_directions, axial_fusion_order);

// Code specialised for one lattice, its offsets known at compile time, takes
// it as a template argument; a pass knows its lattice only at run time.
// with_lattice bridges the two, in this one place: it calls
// step(LatticeTag<L>{}) with L the lattice given, and the step reads it as
// decltype(tag)::lattice.  Always inlined, so that a step inside a
// function compiled for several processors is compiled for each of them.
template <const Lattice& L>
struct LatticeTag {
    static constexpr const Lattice& lattice = L;
};

template <typename Step>
__attribute__((always_inline)) inline decltype(auto) with_lattice(const Lattice& lattice,
                                                                  Step&& step) {
    if (&lattice == &diagonal_lattice) return step(LatticeTag<diagonal_lattice>{});
    return step(LatticeTag<axial_lattice>{});
}

}  // namespace quillmorph

#endif
