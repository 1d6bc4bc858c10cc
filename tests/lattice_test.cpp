// The lattice tables checked against the formulas and tables they come from,
// and against each other: a wrong offset or index here misplaces one cell of
// every block and shows nowhere else this clearly.
#include "interp/lattice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <ostream>
#include <set>
#include <utility>

#include "test_geometry.h"

namespace quillmorph {

// Found by argument-dependent lookup from inside GoogleTest, so it sits in
// Offset's namespace; static keeps it out of the other test files.
static std::ostream& operator<<(std::ostream& out, Offset o) {
    return out << "(" << o.dr << ", " << o.dc << ")";
}

namespace {

bool same(Offset x, Offset y) { return x.dr == y.dr && x.dc == y.dc; }

TEST(DiagonalLattice, MatchesItsFormulas) {
    const Lattice& l = diagonal_lattice;
    for (int m = 0; m < 5; ++m)
        for (int n = 0; n < 5; ++n)
            EXPECT_TRUE(same(l.block[5 * m + n], {-4 + 2 * m, -4 + 2 * n}))
                << "block " << 5 * m + n;
    for (int q = 0; q < 4; ++q)
        for (int s = 0; s < 4; ++s)
            EXPECT_TRUE(same(l.training[4 * q + s], {-3 + 2 * q, -3 + 2 * s}))
                << "training pixel " << 4 * q + s;
    const Offset nw_ne_sw_se[4] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}};
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(same(l.direction[k], nw_ne_sw_se[k])) << "a" << k;
}

TEST(AxialLattice, MatchesItsTables) {
    const Offset block[25] = {{0, -4},  {-1, -3}, {-2, -2}, {-3, -1}, {-4, 0}, {1, -3}, {0, -2},
                              {-1, -1}, {-2, 0},  {-3, 1},  {2, -2},  {1, -1}, {0, 0},  {-1, 1},
                              {-2, 2},  {3, -1},  {2, 0},   {1, 1},   {0, 2},  {-1, 3}, {4, 0},
                              {3, 1},   {2, 2},   {1, 3},   {0, 4}};
    const Offset training[16] = {{0, -3}, {-1, -2}, {-2, -1}, {-3, 0}, {1, -2}, {0, -1},
                                 {-1, 0}, {-2, 1},  {2, -1},  {1, 0},  {0, 1},  {-1, 2},
                                 {3, 0},  {2, 1},   {1, 2},   {0, 3}};
    const Offset left_up_down_right[4] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};
    const Lattice& l = axial_lattice;
    for (int k = 0; k < 25; ++k)
        EXPECT_TRUE(same(l.block[k], block[k])) << "block " << k << " is " << l.block[k];
    for (int t = 0; t < 16; ++t)
        EXPECT_TRUE(same(l.training[t], training[t]))
            << "training pixel " << t << " is " << l.training[t];
    for (int k = 0; k < 4; ++k)
        EXPECT_TRUE(same(l.direction[k], left_up_down_right[k])) << "a" << k;
}

struct Named {
    const char* name;
    const Lattice* lattice;
    bool (*in_window)(int dr, int dc);  // the 36 known cells an estimator may read
};

const Named lattices[] = {{"diagonal", &diagonal_lattice, in_diagonal_window},
                          {"axial", &axial_lattice, in_axial_window}};

// Training pixel (q, s) sits between block positions u, u + 1, u + 5, u + 6
// (u = 5q + s), one per model direction: the sparsity pattern of the block
// system rests on this.
TEST(Lattices, TrainingPixelsNeighbourBlockPositionsByFixedSteps) {
    EXPECT_EQ(block_neighbour_step[0], 0);
    EXPECT_EQ(block_neighbour_step[1], 1);
    EXPECT_EQ(block_neighbour_step[2], 5);
    EXPECT_EQ(block_neighbour_step[3], 6);
    for (const Named& n : lattices) {
        const Lattice& l = *n.lattice;
        for (int q = 0; q < training_side; ++q) {
            for (int s = 0; s < training_side; ++s) {
                const Offset t = l.training[training_side * q + s];
                for (int k = 0; k < model_order; ++k) {
                    const Offset expected = {t.dr + l.direction[k].dr, t.dc + l.direction[k].dc};
                    const int index = training_block_base(q, s) + block_neighbour_step[k];
                    EXPECT_TRUE(same(l.block[index], expected))
                        << n.name << " training (" << q << ", " << s << "), a" << k << ": block "
                        << index << " is " << l.block[index];
                }
            }
        }
    }
}

// The cells a fit or a block system reads are exactly the 36 window cells,
// and no block position (an unknown) is among them.
TEST(Lattices, EstimatorReadsCoverExactlyTheWindow) {
    for (const Named& n : lattices) {
        const Lattice& l = *n.lattice;
        std::set<std::pair<int, int>> read;
        for (const Offset& t : l.training) {
            read.insert({t.dr, t.dc});
            for (const Offset& d : l.direction) read.insert({t.dr + 2 * d.dr, t.dc + 2 * d.dc});
        }
        std::set<std::pair<int, int>> blocks;
        for (const Offset& b : l.block) {
            blocks.insert({b.dr, b.dc});
            EXPECT_FALSE(n.in_window(b.dr, b.dc)) << n.name << " block position in the window";
            for (const Offset& d : l.direction) read.insert({b.dr + d.dr, b.dc + d.dc});
        }
        EXPECT_EQ(blocks.size(), 25u) << n.name << " block positions are distinct";
        EXPECT_TRUE(same(l.block[block_centre], {0, 0})) << n.name;
        std::set<std::pair<int, int>> window;
        for (int dr = -5; dr <= 5; ++dr)
            for (int dc = -5; dc <= 5; ++dc)
                if (n.in_window(dr, dc)) window.insert({dr, dc});
        EXPECT_EQ(window.size(), 36u) << n.name;
        EXPECT_EQ(read, window) << n.name;
    }
}

// Term t of a fusion takes, from the block centred at centre[t] relative to
// the fused cell, the element that points back at the cell.
TEST(Lattices, FusionElementsPointBackAtTheFusedCell) {
    const Offset diagonal_centres[9] = {{0, 2},  {0, 0}, {0, -2}, {-2, 0}, {-2, -2},
                                        {-2, 2}, {2, 0}, {2, -2}, {2, 2}};
    const Offset axial_centres[9] = {{0, 0},  {-1, 1}, {1, -1}, {-1, -1}, {0, -2},
                                     {-2, 0}, {1, 1},  {2, 0},  {0, 2}};
    const Offset* centres[2] = {diagonal_centres, axial_centres};
    const std::set<int> inner(std::begin(inner_block_elements), std::end(inner_block_elements));
    for (int which = 0; which < 2; ++which) {
        const Lattice& l = *lattices[which].lattice;
        std::set<int> used;
        for (int t = 0; t < fusion_terms; ++t) {
            const Offset c = centres[which][t];
            const int element = l.fusion_element[t];
            used.insert(element);
            EXPECT_TRUE(same(l.block[element], {-c.dr, -c.dc}))
                << lattices[which].name << " term " << t + 1 << ": element " << element;
        }
        EXPECT_EQ(used, inner) << lattices[which].name;
    }
}

}  // namespace

}  // namespace quillmorph
