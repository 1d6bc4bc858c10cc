// Block stores: gather element orders and ranges, fusion terms and ranges.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "interp/block_store.h"
#include "interp/lattice.h"
#include "test_support.h"

namespace quillmorph {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Where a slot keeps block element e.
int kept_index(const Lattice& lattice, int e) {
    for (int i = 0; i < fusion_terms; ++i)
        if (lattice.fusion_element[i] == e) return i;
    return -1;
}

// The targets of each pass, as the refinement loops visit them: rows and
// columns from first to last in steps of 2.
struct Family {
    int first_r, last_r, first_c, last_c;  // last_* relative to h2, w2
};
constexpr Family diagonal_targets[] = {{5, -7, 5, -7}};
constexpr Family axial_targets[] = {{5, -7, 6, -8}, {6, -8, 5, -7}};

// The estimator window of the target (r, c): its top-left corner.
const double* window_of(const double* grid, int w2, int r, int c) {
    return grid + cell(r - window_radius, c - window_radius, w2);
}

// Gathers the slot of every target of a pass, as if every estimate had been
// rejected.
void gather_targets(bool axial, const double* grid, double* store, int w2, int h2) {
    const Lattice& lattice = axial ? axial_lattice : diagonal_lattice;
    for (const Family& f :
         axial ? std::vector<Family>(std::begin(axial_targets), std::end(axial_targets))
               : std::vector<Family>(std::begin(diagonal_targets), std::end(diagonal_targets)))
        for (int r = f.first_r; r <= h2 + f.last_r; r += 2)
            for (int c = f.first_c; c <= w2 + f.last_c; c += 2)
                gather_block(lattice, window_of(grid, w2, r, c), w2, slot_of(store, w2, h2, r, c));
}

// A grid whose every cell names its own position.
std::vector<double> position_grid(int w2, int h2) {
    std::vector<double> grid(to_size(w2) * to_size(h2));
    for (int r = 0; r < h2; ++r)
        for (int c = 0; c < w2; ++c) grid[cell(r, c, w2)] = 1000.0 * r + c;
    return grid;
}

// The first slot of each pass, gathered from a grid whose cells name their
// positions: block element 5a + b is the cell the formula gives, and the
// slot keeps the inner nine.
TEST(GatherBlock, FirstSlotElementOrder) {
    const int w2 = 16, h2 = 16;
    const std::vector<double> grid = position_grid(w2, h2);
    const struct {
        const char* name;
        const Lattice* lattice;
        int r, c;
        Offset (*cell)(int a, int b);
    } cases[] = {
        // Slot (2, 2), centred at (5, 5): rows 1, 3, .., 9 by columns 1, 3, .., 9.
        {"diagonal", &diagonal_lattice, 5, 5,
         [](int a, int b) {
             return Offset{1 + 2 * a, 1 + 2 * b};
         }},
        // Slot (6, 5): elements 0..4 are (6, 1), (5, 2), (4, 3), (3, 4), (2, 5);
        // each element row moves one down and one right.
        {"axial", &axial_lattice, 6, 5,
         [](int a, int b) {
             return Offset{6 + a - b, 1 + a + b};
         }},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(one.name);
        double slot[slot_size];
        gather_block(*one.lattice, window_of(grid.data(), w2, one.r, one.c), w2, slot);
        int kept = 0;
        for (int a = 0; a < 5; ++a) {
            for (int b = 0; b < 5; ++b) {
                const int i = kept_index(*one.lattice, 5 * a + b);
                if (i < 0) continue;
                ++kept;
                const Offset cell = one.cell(a, b);
                EXPECT_EQ(slot[i], 1000.0 * cell.dr + cell.dc) << a << "," << b;
            }
        }
        EXPECT_EQ(kept, 9);
    }
}

// A fusion reads only the slots of targets: the refinement passes write no
// other slot.  Every other slot holds NaN here, and no fused cell may see it.
TEST(FuseBlocks, ReadOnlyTheSlotsOfTargets) {
    const int sizes[][2] = {{8, 8}, {9, 9}, {9, 8}, {8, 11}, {13, 10}};
    for (const auto& size : sizes) {
        const int w2 = 2 * size[0], h2 = 2 * size[1];
        SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
        const std::vector<double> positions = position_grid(w2, h2);
        for (const bool axial : {false, true}) {
            std::vector<double> store(store_doubles(w2, h2), nan);
            gather_targets(axial, positions.data(), store.data(), w2, h2);
            std::vector<double> grid = positions;
            if (axial)
                fuse_axial_blocks(grid.data(), store.data(), w2, h2);
            else
                fuse_diagonal_blocks(grid.data(), store.data(), w2, h2);
            for (std::size_t i = 0; i < grid.size(); ++i)
                ASSERT_FALSE(std::isnan(grid[i]))
                    << (axial ? "axial" : "diagonal") << " cell " << i;
            // Nine gathered copies of a cell average back to the cell.
            EXPECT_EQ(grid, positions) << (axial ? "axial" : "diagonal");
        }
    }
}

// Fills every slot of a store with distinct values, fuses, and checks each
// fused cell against the nine (slot, element) terms written out by hand.
struct Term {
    int slot_dr, slot_dc;  // centre of the contributing block, relative to the cell
    int element;
};
constexpr Term diagonal_terms[fusion_terms] = {{0, 2, 11},  {0, 0, 12},   {0, -2, 13},
                                               {-2, 0, 17}, {-2, -2, 18}, {-2, 2, 16},
                                               {2, 0, 7},   {2, -2, 8},   {2, 2, 6}};
constexpr Term axial_terms[fusion_terms] = {{0, 0, 12},   {-1, 1, 11}, {1, -1, 13},
                                            {-1, -1, 17}, {0, -2, 18}, {-2, 0, 16},
                                            {1, 1, 7},    {2, 0, 8},   {0, 2, 6}};

TEST(FuseBlocks, SumNineTermsInOrderOverTheFusedArea) {
    const int w = 10, h = 9, w2 = 2 * w, h2 = 2 * h;
    for (const bool axial : {false, true}) {
        SCOPED_TRACE(axial ? "axial" : "diagonal");
        std::vector<double> store(store_doubles(w2, h2));
        for (std::size_t i = 0; i < store.size(); ++i)
            store[i] = std::sin(0.37 * static_cast<double>(i)) * 300.0;
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
                const double value = grid[cell(r, c, w2)];
                if (!in_area) {
                    EXPECT_TRUE(std::isnan(value)) << r << "," << c;
                    continue;
                }
                ++fused;
                double sum = 0.0;
                for (int t = 0; t < fusion_terms; ++t) {
                    const Term& term = axial ? axial_terms[t] : diagonal_terms[t];
                    const int sr = r + term.slot_dr, sc = c + term.slot_dc;
                    const double v = slot_of(
                        store.data(), w2, h2, sr,
                        sc)[kept_index(axial ? axial_lattice : diagonal_lattice, term.element)];
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
            std::vector<double> store(store_doubles(w2, h2), 1000.0);
            std::vector<double> grid(to_size(w2) * to_size(h2), 0.0);
            if (axial)
                fuse_axial_blocks(grid.data(), store.data(), w2, h2);
            else
                fuse_diagonal_blocks(grid.data(), store.data(), w2, h2);
            std::set<std::pair<int, int>> changed;
            for (int r = 0; r < h2; ++r)
                for (int col = 0; col < w2; ++col)
                    if (grid[cell(r, col, w2)] != 0.0) changed.insert({r, col});
            EXPECT_EQ(changed, axial ? c.axial : c.diagonal) << (axial ? "axial" : "diagonal");
        }
    }
}

TEST(FuseBlocks, GatherThenFuseLeavesTheGridUnchanged) {
    // Upsampled values are multiples of 1/256 below 256: nine of them add up
    // exactly, so a pass whose every estimate was rejected changes nothing.
    const int w2 = 24, h2 = 22;
    std::vector<double> grid(static_cast<std::size_t>(w2) * h2);
    for (std::size_t i = 0; i < grid.size(); ++i)
        grid[i] = static_cast<double>((i * 7919) % 65280) / 256.0;
    const std::vector<double> before = grid;
    std::vector<double> diagonal(store_doubles(w2, h2)), axial(store_doubles(w2, h2));
    gather_targets(false, grid.data(), diagonal.data(), w2, h2);
    fuse_diagonal_blocks(grid.data(), diagonal.data(), w2, h2);
    gather_targets(true, grid.data(), axial.data(), w2, h2);
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
        std::vector<double> store(store_doubles(w2, h2));
        gather_targets(axial, grid.data(), store.data(), w2, h2);
        // Replace the block of one target in the middle by estimates 500 + k.
        const int tr = 15, tc = axial ? 14 : 15;
        double block[block_size];
        for (int k = 0; k < block_size; ++k) block[k] = 500.0 + k;
        keep_block(lattice, block, slot_of(store.data(), w2, h2, tr, tc));
        if (axial)
            fuse_axial_blocks(grid.data(), store.data(), w2, h2);
        else
            fuse_diagonal_blocks(grid.data(), store.data(), w2, h2);

        std::set<std::pair<int, int>> covered;
        for (int e : lattice.fusion_element) {
            const int r = tr + lattice.block[e].dr, c = tc + lattice.block[e].dc;
            covered.insert({r, c});
            const double expected = (8.0 * before[cell(r, c, w2)] + 500.0 + e) / 9.0;
            EXPECT_NEAR(grid[cell(r, c, w2)], expected,
                        16 * 600.0 * std::numeric_limits<double>::epsilon());
        }
        EXPECT_EQ(covered.size(), 9u);
        for (int r = 0; r < h2; ++r)
            for (int c = 0; c < w2; ++c)
                if (!covered.count({r, c})) {
                    EXPECT_EQ(grid[cell(r, c, w2)], before[cell(r, c, w2)]) << r << "," << c;
                }
    }
}

}  // namespace

}  // namespace quillmorph
