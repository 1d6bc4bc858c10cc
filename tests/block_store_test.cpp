// Block stores: gather element orders and ranges, fusion terms and ranges.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "interp/block_store.h"
#include "interp/lattice.h"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Where a slot keeps block element e.
int kept_index(const Lattice& lattice, int e) {
    for (int i = 0; i < fusion_terms; ++i)
        if (lattice.fusion_element[i] == e) return i;
    return -1;
}

// A grid whose every cell names its own position.
std::vector<double> position_grid(int w2, int h2) {
    std::vector<double> grid(static_cast<std::size_t>(w2) * h2);
    for (int r = 0; r < h2; ++r)
        for (int c = 0; c < w2; ++c) grid[r * w2 + c] = 1000.0 * r + c;
    return grid;
}

TEST(GatherDiagonalBlocks, FirstSlotElementOrder) {
    const int w2 = 16, h2 = 16;
    const std::vector<double> grid = position_grid(w2, h2);
    std::vector<double> store(diagonal_store_doubles(w2, h2), nan);
    gather_diagonal_blocks(grid.data(), store.data(), w2, h2);
    // Slot (2, 2), centred at (5, 5): element 5a + b is the cell
    // (1 + 2a, 1 + 2b); the slot keeps the inner nine.
    const double* slot = &store[diagonal_slot(5, 5, w2) * slot_size];
    int kept = 0;
    for (int a = 0; a < 5; ++a) {
        for (int b = 0; b < 5; ++b) {
            const int i = kept_index(diagonal_lattice, 5 * a + b);
            if (i < 0) continue;
            ++kept;
            EXPECT_EQ(slot[i], 1000.0 * (1 + 2 * a) + (1 + 2 * b)) << a << "," << b;
        }
    }
    EXPECT_EQ(kept, 9);
}

TEST(GatherAxialBlocks, FirstSlotElementOrder) {
    const int w2 = 16, h2 = 16;
    const std::vector<double> grid = position_grid(w2, h2);
    std::vector<double> store(axial_store_doubles(w2, h2), nan);
    gather_axial_blocks(grid.data(), store.data(), w2, h2);
    // Slot (4, 5): elements 0..4 are (4, 1), (3, 2), (2, 3), (1, 4), (0, 5);
    // each element row moves one down and one right.  The slot keeps the
    // inner nine.
    const double* slot = &store[axial_slot(4, 5, w2) * slot_size];
    int kept = 0;
    for (int a = 0; a < 5; ++a) {
        for (int b = 0; b < 5; ++b) {
            const int i = kept_index(axial_lattice, 5 * a + b);
            if (i < 0) continue;
            ++kept;
            EXPECT_EQ(slot[i], 1000.0 * (4 + a - b) + (1 + a + b)) << a << "," << b;
        }
    }
    EXPECT_EQ(kept, 9);
}

// The slots a gather fills, as (row, column) of their centres.
std::set<std::pair<int, int>> gathered_centres(bool axial, int w2, int h2) {
    const std::vector<double> grid = position_grid(w2, h2);
    std::vector<double> store(axial ? axial_store_doubles(w2, h2) : diagonal_store_doubles(w2, h2), nan);
    if (axial)
        gather_axial_blocks(grid.data(), store.data(), w2, h2);
    else
        gather_diagonal_blocks(grid.data(), store.data(), w2, h2);
    std::set<std::pair<int, int>> centres;
    const int centre_index = kept_index(axial ? axial_lattice : diagonal_lattice, block_centre);
    for (std::size_t slot = 0; slot < store.size() / slot_size; ++slot) {
        if (std::isnan(store[slot * slot_size])) continue;
        // Element 12 is the centre cell, whose value names its position.
        const double centre = store[slot * slot_size + centre_index];
        centres.insert({static_cast<int>(centre / 1000.0), static_cast<int>(std::fmod(centre, 1000.0))});
    }
    return centres;
}

TEST(GatherBlocks, FillExactlyTheSlotsInsideTheGrid) {
    const int sizes[][2] = {{4, 4}, {5, 5}, {9, 8}, {8, 11}, {13, 10}};
    for (const auto& size : sizes) {
        const int w2 = 2 * size[0], h2 = 2 * size[1];
        SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
        std::set<std::pair<int, int>> diagonal, axial;
        for (int r = 0; r < h2; ++r) {
            for (int c = 0; c < w2; ++c) {
                const bool inside = r >= 4 && c >= 4 && r <= h2 - 5 && c <= w2 - 5;
                if (r % 2 == 1 && c % 2 == 1 && r >= 5 && c >= 5 && r <= h2 - 5 && c <= w2 - 5)
                    diagonal.insert({r, c});
                // An axial block reaches 4 cells in city-block distance.
                if ((r + c) % 2 == 1 && inside && (r % 2 == 0 ? c >= 5 && c <= w2 - 5 : r >= 5 && r <= h2 - 5))
                    axial.insert({r, c});
            }
        }
        EXPECT_EQ(gathered_centres(false, w2, h2), diagonal);
        EXPECT_EQ(gathered_centres(true, w2, h2), axial);
    }
}

// Fills every slot of a store with distinct values, fuses, and checks each
// fused cell against the nine (slot, element) terms written out by hand.
struct Term {
    int slot_dr, slot_dc;  // centre of the contributing block, relative to the cell
    int element;
};
constexpr Term diagonal_terms[fusion_terms] = {{0, 2, 11},  {0, 0, 12},  {0, -2, 13},
                                               {-2, 0, 17}, {-2, -2, 18}, {-2, 2, 16},
                                               {2, 0, 7},   {2, -2, 8},   {2, 2, 6}};
constexpr Term axial_terms[fusion_terms] = {{0, 0, 12},  {-1, 1, 11}, {1, -1, 13},
                                            {-1, -1, 17}, {0, -2, 18}, {-2, 0, 16},
                                            {1, 1, 7},    {2, 0, 8},   {0, 2, 6}};

TEST(FuseBlocks, SumNineTermsInOrderOverTheFusedArea) {
    const int w = 10, h = 9, w2 = 2 * w, h2 = 2 * h;
    for (const bool axial : {false, true}) {
        SCOPED_TRACE(axial ? "axial" : "diagonal");
        std::vector<double> store(axial ? axial_store_doubles(w2, h2) : diagonal_store_doubles(w2, h2));
        for (std::size_t i = 0; i < store.size(); ++i) store[i] = std::sin(0.37 * static_cast<double>(i)) * 300.0;
        std::vector<double> grid(static_cast<std::size_t>(w2) * h2, nan);
        if (axial)
            fuse_axial_blocks(grid.data(), store.data(), w2, h2);
        else
            fuse_diagonal_blocks(grid.data(), store.data(), w2, h2);
        int fused = 0;
        for (int r = 0; r < h2; ++r) {
            for (int c = 0; c < w2; ++c) {
                const bool is_kind = axial ? (r + c) % 2 == 1 : (r % 2 == 1 && c % 2 == 1);
                const bool in_area = is_kind && r >= 7 && c >= 7 && r <= h2 - 9 && c <= w2 - 9;
                const double value = grid[r * w2 + c];
                if (!in_area) {
                    EXPECT_TRUE(std::isnan(value)) << r << "," << c;
                    continue;
                }
                ++fused;
                double sum = 0.0;
                for (int t = 0; t < fusion_terms; ++t) {
                    const Term& term = axial ? axial_terms[t] : diagonal_terms[t];
                    const int sr = r + term.slot_dr, sc = c + term.slot_dc;
                    const std::size_t slot = axial ? axial_slot(sr, sc, w2) : diagonal_slot(sr, sc, w2);
                    const double v = store[slot * slot_size + kept_index(axial ? axial_lattice : diagonal_lattice, term.element)];
                    sum = t == 0 ? v : sum + v;
                }
                EXPECT_EQ(value, sum / 9.0) << r << "," << c;
            }
        }
        // Rows 7..9, columns 7..11: diagonal rows 7, 9 by columns 7, 9, 11;
        // axial rows 7, 9 by columns 8, 10, and row 8 by columns 7, 9, 11.
        EXPECT_EQ(fused, axial ? 2 * 2 + 3 : 2 * 3);
    }
}

TEST(FuseBlocks, SmallImagesFuseOnlyTheListedCells) {
    struct Case {
        int w, h;
        std::set<std::pair<int, int>> diagonal, axial;
    };
    const Case cases[] = {
        {7, 8, {}, {}},
        {8, 8, {{7, 7}}, {}},
        {9, 8, {{7, 7}, {7, 9}}, {{7, 8}}},
        {8, 9, {{7, 7}, {9, 7}}, {{8, 7}}},
        {9, 9, {{7, 7}, {7, 9}, {9, 7}, {9, 9}}, {{7, 8}, {9, 8}, {8, 7}, {8, 9}}},
    };
    for (const Case& c : cases) {
        const int w2 = 2 * c.w, h2 = 2 * c.h;
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        for (const bool axial : {false, true}) {
            std::vector<double> store(axial ? axial_store_doubles(w2, h2) : diagonal_store_doubles(w2, h2), 1000.0);
            std::vector<double> grid(static_cast<std::size_t>(w2) * h2, 0.0);
            if (axial)
                fuse_axial_blocks(grid.data(), store.data(), w2, h2);
            else
                fuse_diagonal_blocks(grid.data(), store.data(), w2, h2);
            std::set<std::pair<int, int>> changed;
            for (int r = 0; r < h2; ++r)
                for (int col = 0; col < w2; ++col)
                    if (grid[r * w2 + col] != 0.0) changed.insert({r, col});
            EXPECT_EQ(changed, axial ? c.axial : c.diagonal) << (axial ? "axial" : "diagonal");
        }
    }
}

TEST(FuseBlocks, GatherThenFuseLeavesTheGridUnchanged) {
    // Upsampled values are multiples of 1/256 below 256: nine of them add up
    // exactly, so a pass whose every estimate was rejected changes nothing.
    const int w2 = 24, h2 = 22;
    std::vector<double> grid(static_cast<std::size_t>(w2) * h2);
    for (std::size_t i = 0; i < grid.size(); ++i) grid[i] = static_cast<double>((i * 7919) % 65280) / 256.0;
    const std::vector<double> before = grid;
    std::vector<double> diagonal(diagonal_store_doubles(w2, h2)), axial(axial_store_doubles(w2, h2));
    gather_diagonal_blocks(grid.data(), diagonal.data(), w2, h2);
    fuse_diagonal_blocks(grid.data(), diagonal.data(), w2, h2);
    gather_axial_blocks(grid.data(), axial.data(), w2, h2);
    fuse_axial_blocks(grid.data(), axial.data(), w2, h2);
    EXPECT_EQ(grid, before);
}

TEST(FuseBlocks, OneReplacedBlockMovesItsNineCellsAnEighthOfTheWay) {
    const int w2 = 30, h2 = 30;
    for (const bool axial : {false, true}) {
        SCOPED_TRACE(axial ? "axial" : "diagonal");
        const Lattice& lattice = axial ? axial_lattice : diagonal_lattice;
        std::vector<double> grid(static_cast<std::size_t>(w2) * h2);
        for (std::size_t i = 0; i < grid.size(); ++i) grid[i] = static_cast<double>((i * 31) % 255);
        const std::vector<double> before = grid;
        std::vector<double> store(axial ? axial_store_doubles(w2, h2) : diagonal_store_doubles(w2, h2));
        if (axial)
            gather_axial_blocks(grid.data(), store.data(), w2, h2);
        else
            gather_diagonal_blocks(grid.data(), store.data(), w2, h2);
        // Replace the block of one target in the middle by estimates 500 + k.
        const int tr = 15, tc = axial ? 14 : 15;
        double block[block_size];
        for (int k = 0; k < block_size; ++k) block[k] = 500.0 + k;
        keep_block(lattice, block, &store[(axial ? axial_slot(tr, tc, w2) : diagonal_slot(tr, tc, w2)) * slot_size]);
        if (axial)
            fuse_axial_blocks(grid.data(), store.data(), w2, h2);
        else
            fuse_diagonal_blocks(grid.data(), store.data(), w2, h2);

        std::set<std::pair<int, int>> covered;
        for (int e : lattice.fusion_element) {
            const int r = tr + lattice.block[e].dr, c = tc + lattice.block[e].dc;
            covered.insert({r, c});
            const double expected = (8.0 * before[r * w2 + c] + 500.0 + e) / 9.0;
            EXPECT_NEAR(grid[r * w2 + c], expected, 16 * 600.0 * std::numeric_limits<double>::epsilon());
        }
        EXPECT_EQ(covered.size(), 9u);
        for (int r = 0; r < h2; ++r)
            for (int c = 0; c < w2; ++c)
                if (!covered.count({r, c})) {
                    EXPECT_EQ(grid[r * w2 + c], before[r * w2 + c]) << r << "," << c;
                }
    }
}

}  // namespace
