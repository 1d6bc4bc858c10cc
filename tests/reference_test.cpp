// The engine against the straightforward refinement (tests/reference), and
// what the limit on the model coefficients buys on clean edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "interp/stages.h"
#include "interp/upscale.h"
#include "interp/upsample.h"
#include "quillmorph.h"
#include "reference/reference_refine.h"
#include "test_images.h"
#include "test_support.h"

namespace quillmorph {

namespace {

std::vector<unsigned char> output_bytes(const std::vector<double>& grid) {
    std::vector<unsigned char> bytes(grid.size());
    for (std::size_t i = 0; i < grid.size(); ++i)
        bytes[i] = static_cast<unsigned char>(reference::output_sample(grid[i]));
    return bytes;
}

// The samples of the region (x, y, width, height) of the w2-wide grid.
std::vector<std::uint16_t> output_region(const std::vector<double>& grid, int w2, int maxval, int x,
                                         int y, int width, int height) {
    std::vector<std::uint16_t> samples;
    for (int r = y; r < y + height; ++r)
        for (int c = x; c < x + width; ++c)
            samples.push_back(
                static_cast<std::uint16_t>(reference::output_sample(grid[cell(r, c, w2)], maxval)));
    return samples;
}

// The entry points of the API, each called on a w x h image with 8-bit or
// 16-bit samples; each writes the region (x, y, width, height) of the
// output, which for the whole-image calls is all of it.
enum EntryPoint { whole_image, row_stream, region, entry_points };
const char* const entry_names[entry_points] = {"qm_upscale", "qm_upscale_rows",
                                               "qm_upscale_region"};

// A whole image as a stream of rows.
template <typename Sample>
struct Rows {
    const Sample* lr;
    Sample* hr;
    int w;
    int read, written;
};

template <typename Sample>
int read_next(void* user, Sample* row) {
    Rows<Sample>& rows = *static_cast<Rows<Sample>*>(user);
    std::copy_n(rows.lr + cell(rows.read++, 0, rows.w), rows.w, row);
    return 0;
}

template <typename Sample>
int write_next(void* user, const Sample* row) {
    Rows<Sample>& rows = *static_cast<Rows<Sample>*>(user);
    std::copy_n(row, 2 * rows.w, rows.hr + cell(rows.written++, 0, 2 * rows.w));
    return 0;
}

int call(EntryPoint entry, const unsigned char* lr, int w, int h, unsigned char* hr, int x, int y,
         int width, int height, const qm_options* options) {
    Rows<unsigned char> rows = {lr, hr, w, 0, 0};
    switch (entry) {
        case whole_image:
            return qm_upscale(lr, w, h, w, hr, 2 * w, options);
        case row_stream:
            return qm_upscale_rows(w, h, read_next, write_next, &rows, options);
        default:
            return qm_upscale_region(lr, w, h, w, 0, 0, w, h, x, y, width, height, hr, width,
                                     options);
    }
}

int call(EntryPoint entry, const std::uint16_t* lr, int w, int h, std::uint16_t* hr, int x, int y,
         int width, int height, const qm_options* options) {
    Rows<std::uint16_t> rows = {lr, hr, w, 0, 0};
    const std::ptrdiff_t bytes = sizeof(std::uint16_t);
    switch (entry) {
        case whole_image:
            return qm_upscale16(lr, w, h, w * bytes, hr, 2 * w * bytes, options);
        case row_stream:
            return qm_upscale16_rows(w, h, read_next, write_next, &rows, options);
        default:
            return qm_upscale16_region(lr, w, h, w * bytes, 0, 0, w, h, x, y, width, height, hr,
                                       width * bytes, options);
    }
}

// The samples an entry point writes, widened to 16 bits.
template <typename Sample>
std::vector<std::uint16_t> through_api(EntryPoint entry, const std::vector<Sample>& lr, int w,
                                       int h, int x, int y, int width, int height, int maxval,
                                       int threads) {
    qm_options* options = qm_options_new();
    qm_options_set_threads(options, threads);
    qm_options_set_maxval(options, maxval);
    std::vector<Sample> hr(to_size(width) * to_size(height));
    EXPECT_EQ(call(entry, lr.data(), w, h, hr.data(), x, y, width, height, options), QM_OK);
    qm_options_free(options);
    return std::vector<std::uint16_t>(hr.begin(), hr.end());
}

// QUILLMORPH_RANDOM_IMAGES sets how many images, where they are slow to run.
int random_image_count() {
    const char* count = std::getenv("QUILLMORPH_RANDOM_IMAGES");
    return count && std::atoi(count) > 0 ? std::atoi(count) : 240;
}

// Sizes 3 to 80 on each side, every kind of content, maxvals from 1 to
// 65535 in 8-bit and 16-bit samples, 1 to 64 threads, and the smallest
// rings as well as the default ones and those for the thread count: the
// engine makes exactly the straightforward refinement's grid, and every
// entry point of the C API its samples.
TEST(RefineImage, MatchesTheStraightforwardRefinement) {
    std::mt19937_64 gen(2026);
    std::uniform_int_distribution<int> side(3, 80);
    std::mt19937_64 pick(2028);  // the threads, rings and calls, apart from the images
    const int thread_counts[] = {1, 2, 3, 7, 16, 64};
    const int maxvals[] = {255, 255, 1, 15, 1023, 4095, 65535, 65535};
    const int images = random_image_count();
    for (int trial = 0; trial < images; ++trial) {
        const Content content = static_cast<Content>(trial % content_kinds);
        const int w = side(gen), h = side(gen), threads = thread_counts[pick() % 6];
        const int maxval = maxvals[pick() % 8];
        const bool eight_bit = maxval <= max_8bit_sample && pick() % 2 == 0;
        const auto ring = pick() % 3;
        const RingSizes rings = ring == 0   ? RingSizes{min_grid_rows, min_store_rows}
                                : ring == 1 ? default_rings
                                            : layout_for_threads(threads, w).rings;
        const std::vector<std::uint16_t> lr16 = content_samples(content, w, h, maxval, gen);
        const std::vector<unsigned char> lr8(lr16.begin(), lr16.end());
        const std::vector<double> engine = eight_bit ? upscaled(w, h, lr8, threads, rings, maxval)
                                                     : upscaled(w, h, lr16, threads, rings, maxval);
        std::vector<double> straightforward = upsampled(w, h, lr16, maxval);
        reference::refine(straightforward.data(), w, h, reference::Rules{true, maxval});
        const std::string what =
            "trial " + std::to_string(trial) + ": " + content_names[content] + ", " +
            std::to_string(w) + " x " + std::to_string(h) + ", maxval " + std::to_string(maxval) +
            (eight_bit ? " in 8 bits, " : " in 16 bits, ") + std::to_string(threads) + " threads";
        ASSERT_EQ(
            std::memcmp(engine.data(), straightforward.data(), engine.size() * sizeof(double)), 0)
            << what << ", rings of " << rings.grid_rows << " and " << rings.store_rows << " rows";

        const auto entry = static_cast<EntryPoint>(pick() % entry_points);
        int x = 0, y = 0, width = 2 * w, height = 2 * h;
        if (entry == region) {
            x = static_cast<int>(pick() % to_size(2 * w)),
            y = static_cast<int>(pick() % to_size(2 * h));
            width = 1 + static_cast<int>(pick() % to_size(2 * w - x));
            height = 1 + static_cast<int>(pick() % to_size(2 * h - y));
        }
        const std::vector<std::uint16_t> api =
            eight_bit ? through_api(entry, lr8, w, h, x, y, width, height, maxval, threads)
                      : through_api(entry, lr16, w, h, x, y, width, height, maxval, threads);
        ASSERT_EQ(api, output_region(straightforward, 2 * w, maxval, x, y, width, height))
            << what << ", through " << entry_names[entry];
    }
}

// Images far taller than the rings, and heights around their sizes and the
// stages' lags, with the smallest rings and a few larger ones: every ring
// row is reused many times over, and windows cross the ring's end.
TEST(RefineImage, TallImagesMatchTheStraightforwardRefinement) {
    std::mt19937_64 gen(2027);
    const RingSizes rings[] = {{min_grid_rows, min_store_rows},
                               {min_grid_rows + 1, min_store_rows + 1},
                               {min_grid_rows + finish_lag, min_store_rows + fusion_reach},
                               default_rings};
    std::vector<int> heights = {300};
    for (int near : {min_store_rows, min_grid_rows, default_store_rows, default_grid_rows})
        for (int lr_rows : {near / 2 - 1, near / 2, near / 2 + 1, near / 2 + 3, near / 2 + 6})
            heights.push_back(lr_rows);
    for (std::size_t i = 0; i < heights.size(); ++i) {
        const int w = 12 + static_cast<int>(i % 5), h = heights[i];
        const std::vector<unsigned char> lr = content_image(waves, w, h, gen);
        std::vector<double> straightforward = upsampled(w, h, lr);
        reference::refine(straightforward.data(), w, h);
        for (const RingSizes& ring : rings)
            for (int threads : {1, 3}) {
                const std::vector<double> engine = upscaled(w, h, lr, threads, ring);
                EXPECT_EQ(std::memcmp(engine.data(), straightforward.data(),
                                      engine.size() * sizeof(double)),
                          0)
                    << w << " x " << h << ", " << threads << " threads, rings of " << ring.grid_rows
                    << " and " << ring.store_rows << " rows";
            }
    }
}

// The true image's value at HR (R, C), the LR pixel (x, y) sitting at HR
// (2y, 2x).
struct Truth {
    double (*value)(double x, double y, double angle);
    double angle;
    double at(int R, int C) const { return value(C / 2.0, R / 2.0, angle); }
};

std::vector<unsigned char> sampled(const Truth& truth, int w, int h) {
    std::vector<unsigned char> lr(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) lr[cell(y, x, w)] = pixel(truth.at(2 * y, 2 * x));
    return lr;
}

// Two smooth ramps meeting at a straight edge through the image's centre,
// turned `angle` degrees from the horizontal, as in rendered charts and
// document gradients.
double two_ramps(double x, double y, double angle) {
    const double slope = std::tan(angle * 3.14159265358979 / 180.0);
    return y - 32 > slope * (x - 32) ? 60 + 0.5 * x + 0.3 * y : 190 + 0.4 * x - 0.6 * y;
}

// Fits singular up to rounding painted streaks and dots across such edges,
// tens of levels off where the 4-tap start was close: the coefficient limit
// removes every one of them.
TEST(CoefficientLimit, LeavesNoStreaksAtEdgesBetweenRamps) {
    const int w = 64, h = 64;
    const reference::Rules without_limit = {false};
    for (double angle : {0.0, 10.0, 30.0, 45.0, 80.0, 90.0}) {
        const Truth truth = {two_ramps, angle};
        const std::vector<unsigned char> lr = sampled(truth, w, h);
        const std::vector<double> start = upsampled(w, h, lr), limited = upscaled(w, h, lr);
        std::vector<double> unlimited = start;
        reference::refine(unlimited.data(), w, h, without_limit);
        int streaks_limited = 0, streaks_unlimited = 0;
        for (int R = 0; R < 2 * h; ++R)
            for (int C = 0; C < 2 * w; ++C) {
                const std::size_t i = cell(R, C, 2 * w);
                const double t = truth.at(R, C);
                if (std::fabs(reference::output_sample(start[i]) - t) > 16) continue;
                streaks_limited += std::fabs(reference::output_sample(limited[i]) - t) > 32;
                streaks_unlimited += std::fabs(reference::output_sample(unlimited[i]) - t) > 32;
            }
        EXPECT_EQ(streaks_limited, 0) << angle << " degrees";
        EXPECT_GT(streaks_unlimited, 30) << angle << " degrees: the fault no longer shows";
    }
}

// An 8-bit ramp, floor(100 + 0.6 x - 1.0 y + 0.5): measured against the true
// plane, the limit takes the RMS error from 1.01 to 0.63 levels and the
// pixels more than 2 levels off from 954 to 121, changing 3837 bytes.
TEST(CoefficientLimit, BringsAnEightBitRampCloserToItsPlane) {
    const int w = 64, h = 64;
    const Truth truth = {[](double x, double y, double) { return 100 + 0.6 * x - 1.0 * y; }, 0.0};
    const std::vector<unsigned char> lr = sampled(truth, w, h);
    const std::vector<double> limited = upscaled(w, h, lr);
    std::vector<double> unlimited = upsampled(w, h, lr);
    reference::refine(unlimited.data(), w, h, reference::Rules{false});
    const std::vector<unsigned char> with = output_bytes(limited),
                                     without = output_bytes(unlimited);

    double square_with = 0, square_without = 0;
    int off_with = 0, off_without = 0, changed = 0;
    for (int R = 0; R < 2 * h; ++R)
        for (int C = 0; C < 2 * w; ++C) {
            const std::size_t i = cell(R, C, 2 * w);
            const double e_with = with[i] - truth.at(R, C), e_without = without[i] - truth.at(R, C);
            square_with += e_with * e_with;
            square_without += e_without * e_without;
            off_with += std::fabs(e_with) > 2;
            off_without += std::fabs(e_without) > 2;
            changed += with[i] != without[i];
        }
    const double cells = 4.0 * w * h;
    EXPECT_NEAR(std::sqrt(square_with / cells), 0.63, 0.01);
    EXPECT_NEAR(std::sqrt(square_without / cells), 1.01, 0.01);
    EXPECT_EQ(off_with, 121);
    EXPECT_EQ(off_without, 954);
    EXPECT_EQ(changed, 3837);
}

}  // namespace

}  // namespace quillmorph
