// The initial 4-tap upsampling: worked examples, borders and invariants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "interp/pixels.h"
#include "interp/upsample.h"
#include "test_support.h"

namespace quillmorph {

namespace {

std::vector<double> upsample(int w, int h, const std::vector<unsigned char>& lr,
                             double fill = 0.0) {
    std::vector<double> grid(4 * static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill);
    upsample_initial(w, lr.data(), grid.data(), h, max_8bit_sample);
    return grid;
}

TEST(UpsampleInitial, ColumnRampThreeByFour) {
    // Every column reads 10, 20, 30, 40: first-row rule on row 1, middle rule
    // on row 3, last-row rule on row 5, a copy on row 7.
    std::vector<unsigned char> lr;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) lr.push_back(static_cast<unsigned char>(10 * (r + 1)));
    const std::vector<double> grid = upsample(3, 4, lr);
    const double expected[8] = {10, 13.125, 20, 25, 30, 36.875, 40, 40};
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 6; ++c) EXPECT_EQ(grid[cell(r, c, 6)], expected[r]) << r << "," << c;
}

TEST(UpsampleInitial, BrightColumnClampsBothNeighbours) {
    // Column 2 is 255, every other pixel 0; HR columns 1 and 7 are -31.875
    // before clamping (column 7 by the last-column rule).
    std::vector<unsigned char> lr(5 * 4, 0);
    for (int r = 0; r < 4; ++r) lr[cell(r, 2, 5)] = 255;
    const std::vector<double> grid = upsample(5, 4, lr);
    const double expected[10] = {0, 0, 0, 143.4375, 255, 143.4375, 0, 0, 0, 0};
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 10; ++c) EXPECT_EQ(grid[cell(r, c, 10)], expected[c]) << r << "," << c;
}

TEST(UpsampleInitial, ClampedVerticalValueFeedsHorizontalFilter) {
    // Column 0 reads 255, 0, 0, 255 and the other columns 100.  HR (3, 0) is
    // (9 x 0 - 255 - 255) / 16 = -31.875 before clamping; HR (3, 1) must be
    // filtered from the clamped 0: (9 x (0 + 100) - 100 - 100) / 16 = 43.75.
    const std::vector<unsigned char> lr = {255, 100, 100, 100, 0,   100, 100, 100,
                                           0,   100, 100, 100, 255, 100, 100, 100};
    const std::vector<double> grid = upsample(4, 4, lr);
    EXPECT_EQ(grid[3 * 8 + 0], 0.0);
    EXPECT_EQ(grid[3 * 8 + 1], 43.75);
}

TEST(UpsampleInitial, InvariantsOnRandomImages) {
    std::srand(7);
    const int sizes[][2] = {{3, 3}, {3, 7}, {8, 3}, {5, 4}, {11, 9}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1], w2 = 2 * w, h2 = 2 * h;
        std::vector<unsigned char> lr(static_cast<std::size_t>(w * h));
        for (unsigned char& p : lr) p = static_cast<unsigned char>(std::rand() % 256);
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));

        const std::vector<double> grid = upsample(w, h, lr, 0.0);
        // Garbage in the grid on entry changes nothing.
        EXPECT_EQ(grid, upsample(w, h, lr, -12345.0));
        const std::vector<double> nan_filled =
            upsample(w, h, lr, std::numeric_limits<double>::quiet_NaN());
        EXPECT_EQ(grid, nan_filled);

        for (int r = 0; r < h2; ++r) {
            for (int c = 0; c < w2; ++c) {
                const double v = grid[cell(r, c, w2)];
                EXPECT_GE(v, 0.0);
                EXPECT_LE(v, 255.0);
                if (r % 2 == 0 && c % 2 == 0) {
                    EXPECT_EQ(v, lr[cell(r / 2, c / 2, w)]);
                }
                if (c == w2 - 1) {
                    EXPECT_EQ(v, grid[cell(r, c - 1, w2)]);
                }
                if (r == h2 - 1) {
                    EXPECT_EQ(v, grid[cell(r - 1, c, w2)]);
                }
            }
        }
    }
}

TEST(UpsampleInitial, ConstantImageStaysConstant) {
    for (int v : {0, 1, 128, 255}) {
        const std::vector<unsigned char> lr(6 * 5, static_cast<unsigned char>(v));
        for (double cell : upsample(6, 5, lr)) EXPECT_EQ(cell, v);
    }
}

// Row by row from a ring of the fewest LR rows, each LR row put in the ring
// just before the first grid row that needs it, as a stream is read: the
// same grid as from the whole image.
TEST(UpsampleRow, FromARingOfLrRowsAsFromTheWholeImage) {
    const int sizes[][2] = {{3, 3}, {4, 3}, {3, 4}, {7, 5}, {6, 11}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        std::vector<unsigned char> lr(static_cast<std::size_t>(w * h));
        for (std::size_t i = 0; i < lr.size(); ++i)
            lr[i] = static_cast<unsigned char>(i * 37 % 256);
        const std::vector<double> whole = upsample(w, h, lr);
        std::vector<unsigned char> ring(static_cast<std::size_t>(lr_rows_per_hr_row * w), 0);
        std::vector<double> row(2 * static_cast<std::size_t>(w));
        int read = 0;
        for (int r = 0; r < 2 * h; ++r) {
            for (; read <= r / 2 + lr_rows_below && read < h; ++read)
                std::copy(lr.begin() + read * w, lr.begin() + (read + 1) * w,
                          ring.begin() + read % lr_rows_per_hr_row * w);
            upsample_row(w, h, ring.data(), lr_rows_per_hr_row, r, 255.0, row.data());
            for (int c = 0; c < 2 * w; ++c)
                EXPECT_EQ(row[static_cast<std::size_t>(c)], whole[cell(r, c, 2 * w)])
                    << w << " x " << h << " at " << r << "," << c;
        }
    }
}

}  // namespace

}  // namespace quillmorph
