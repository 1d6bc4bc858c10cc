// The engine against the straightforward refinement (tests/reference), and
// what the limit on the model coefficients buys on clean edges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "interp/refine.h"
#include "interp/upsample.h"
#include "reference/reference_refine.h"

namespace {

std::vector<double> upsampled(int w, int h, const std::vector<unsigned char>& lr) {
    std::vector<double> grid(4 * lr.size());
    upsample_initial(w, lr.data(), grid.data(), h);
    return grid;
}

std::vector<unsigned char> output_bytes(const std::vector<double>& grid) {
    std::vector<unsigned char> bytes(grid.size());
    for (std::size_t i = 0; i < grid.size(); ++i) bytes[i] = reference::output_byte(grid[i]);
    return bytes;
}

unsigned char pixel(double value) {
    return static_cast<unsigned char>(std::floor(std::fmin(255.0, std::fmax(0.0, value)) + 0.5));
}

enum Content { noise, ramp, ramp_edge, binary, waves, constant, content_kinds };
const char* const content_names[] = {"noise", "ramp", "ramp edge", "binary", "waves", "constant"};

// A w x h image of one kind of content, its slopes, angles and levels drawn
// from gen.
std::vector<unsigned char> image(Content content, int w, int h, std::mt19937_64& gen) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double sx = unit(gen), sy = unit(gen), level = 128 + 100 * unit(gen);
    const double angle = 3.14159265358979 * unit(gen), period = 2.5 + 3 * (1 + unit(gen));
    std::vector<unsigned char> lr(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double v = level;
            const double across = std::cos(angle) * (x - w / 2.0) + std::sin(angle) * (y - h / 2.0);
            switch (content) {
                case noise: v = static_cast<double>(gen() % 256); break;
                case ramp: v = level + 2 * sx * x + 2 * sy * y; break;
                case ramp_edge: v = across > 0 ? 60 + sx * x + 0.5 * sy * y : 190 - 0.5 * sx * x + sy * y; break;
                case binary: v = std::sin(across / period * 3) > 0 ? 255 : 0; break;
                case waves: v = 128 + 100 * std::sin(across / period) + 20 * std::cos(0.3 * x * sy); break;
                default: break;
            }
            lr[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)] = pixel(v);
        }
    return lr;
}

// Sizes 3 to 80 on each side, every kind of content, 1 to 3 threads: the
// engine leaves exactly the straightforward refinement's grid.
TEST(RefineImage, MatchesTheStraightforwardRefinement) {
    std::mt19937_64 gen(2026);
    std::uniform_int_distribution<int> side(3, 80);
    for (int trial = 0; trial < 120; ++trial) {
        const Content content = static_cast<Content>(trial % content_kinds);
        const int w = side(gen), h = side(gen), threads = 1 + trial % 3;
        const std::vector<unsigned char> lr = image(content, w, h, gen);
        std::vector<double> engine = upsampled(w, h, lr);
        std::vector<double> straightforward = engine;
        ASSERT_EQ(refine_image_threads(engine.data(), w, h, threads), 0);
        reference::refine(straightforward.data(), w, h);
        ASSERT_EQ(std::memcmp(engine.data(), straightforward.data(), engine.size() * sizeof(double)), 0)
            << "trial " << trial << ": " << content_names[content] << ", " << w << " x " << h << ", "
            << threads << " threads";
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
        for (int x = 0; x < w; ++x) lr[static_cast<std::size_t>(y * w + x)] = pixel(truth.at(2 * y, 2 * x));
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
        const std::vector<double> start = upsampled(w, h, sampled(truth, w, h));
        std::vector<double> limited = start, unlimited = start;
        ASSERT_EQ(refine_image(limited.data(), w, h), 0);
        reference::refine(unlimited.data(), w, h, without_limit);
        int streaks_limited = 0, streaks_unlimited = 0;
        for (int R = 0; R < 2 * h; ++R)
            for (int C = 0; C < 2 * w; ++C) {
                const std::size_t i = static_cast<std::size_t>(R * 2 * w + C);
                const double t = truth.at(R, C);
                if (std::fabs(reference::output_byte(start[i]) - t) > 16) continue;
                streaks_limited += std::fabs(reference::output_byte(limited[i]) - t) > 32;
                streaks_unlimited += std::fabs(reference::output_byte(unlimited[i]) - t) > 32;
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
    const std::vector<double> start = upsampled(w, h, sampled(truth, w, h));
    std::vector<double> limited = start, unlimited = start;
    ASSERT_EQ(refine_image(limited.data(), w, h), 0);
    reference::refine(unlimited.data(), w, h, reference::Rules{false});
    const std::vector<unsigned char> with = output_bytes(limited), without = output_bytes(unlimited);

    double square_with = 0, square_without = 0;
    int off_with = 0, off_without = 0, changed = 0;
    for (int R = 0; R < 2 * h; ++R)
        for (int C = 0; C < 2 * w; ++C) {
            const std::size_t i = static_cast<std::size_t>(R * 2 * w + C);
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
