// The refinement passes as a whole: size limits, invariants and pinned outputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "interp/upscale.h"
#include "interp/upsample.h"
#include "test_images.h"
#include "test_support.h"

namespace quillmorph {

namespace {

std::size_t lr_count(int w, int h) { return to_size(w) * to_size(h); }

std::vector<double> refined(int w, int h, const std::vector<unsigned char>& lr) {
    return upscaled(w, h, lr);
}

TEST(RefineImage, SmallImagesChangeOnlyTheirTargets) {
    // 5 x 5 has no target at all; 6 x 6 has the one diagonal target (5, 5).
    const std::vector<unsigned char> five = textured_pixels(5, 5);
    EXPECT_EQ(refined(5, 5, five), upsampled(5, 5, five));

    const std::vector<unsigned char> six = textured_pixels(6, 6);
    const std::vector<double> before = upsampled(6, 6, six), after = refined(6, 6, six);
    for (int r = 0; r < 12; ++r)
        for (int c = 0; c < 12; ++c)
            if (r != 5 || c != 5) {
                EXPECT_EQ(after[cell(r, c, 12)], before[cell(r, c, 12)]) << r << "," << c;
            }
}

TEST(RefineImage, KeepsLrPixelsAndConstantImages) {
    const int sizes[][2] = {{9, 9}, {12, 10}, {17, 23}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const std::vector<unsigned char> lr = textured_pixels(w, h);
        const std::vector<double> grid = refined(w, h, lr);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                EXPECT_EQ(grid[cell(2 * r, 2 * c, 2 * w)], lr[cell(r, c, w)]);
        for (int v : {0, 77, 255}) {
            const std::vector<unsigned char> flat(lr_count(w, h), static_cast<unsigned char>(v));
            for (double cell : refined(w, h, flat)) ASSERT_EQ(cell, v);
        }
    }
}

TEST(RefineImage, LinearRampHasNoSpeckles) {
    // Model fits on an 8-bit ramp are singular up to rounding; their wild
    // block solutions must not reach the fused cells.
    const int w = 64, h = 64;
    std::vector<unsigned char> lr(lr_count(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            lr[cell(y, x, w)] =
                static_cast<unsigned char>(std::floor(20 + 1.5 * x + 0.7 * y + 0.5));
    const std::vector<double> before = upsampled(w, h, lr), after = refined(w, h, lr);
    int far = 0;
    for (std::size_t i = 0; i < after.size(); ++i) {
        ASSERT_TRUE(std::isfinite(after[i])) << i;
        if (std::fabs(after[i] - before[i]) > 4.0) ++far;
    }
    EXPECT_EQ(far, 0);
}

TEST(RefineImage, RefinementChangesTexturedImages) {
    const std::vector<unsigned char> lr = textured_pixels(20, 16);
    const std::vector<double> before = upsampled(20, 16, lr), after = refined(20, 16, lr);
    int changed = 0;
    for (std::size_t i = 0; i < after.size(); ++i) changed += after[i] != before[i];
    EXPECT_GT(changed, 100);
}

TEST(RefineImage, SameBitsForAnyNumberOfThreads) {
    const int sizes[][2] = {{37, 29}, {23, 41}, {16, 9}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        const std::vector<unsigned char> lr = textured_pixels(w, h);
        const std::vector<double> single = upscaled(w, h, lr, 1);
        for (int threads : {2, 3, 7}) {
            const std::vector<double> grid = upscaled(w, h, lr, threads);
            EXPECT_EQ(std::memcmp(grid.data(), single.data(), grid.size() * sizeof(double)), 0)
                << w << "x" << h << " on " << threads << " threads";
        }
    }
}

}  // namespace

}  // namespace quillmorph
