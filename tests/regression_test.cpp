// Pinned outputs: the exact bytes the tool writes for a few fixed inputs,
// and the exact values the refinement leaves in the grid.
//
// Speed work must not change a single output byte.  These checksums were
// recorded from the straightforward implementation after its output was
// inspected by eye and measured against the originals (bench/quality).  The
// grid checksums are taken in this process, so that they also hold the code
// for other processors to account when the tests run on an emulated one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "interp/refine.h"
#include "interp/upsample.h"
#include "test_support.h"

namespace {

const std::string exe = QUILLMORPH_EXE;
const std::string make_chart = MAKE_CHART_EXE;

// Sinusoids, a step and a little noise from a fixed linear congruential
// generator: every estimator branch gets exercised.
std::vector<unsigned char> textured_pixels(int w, int h) {
    std::vector<unsigned char> pixels;
    std::uint32_t state = 12345;
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            state = state * 1664525u + 1013904223u;
            const double noise = static_cast<double>(state >> 24) / 32.0;
            double v = 110 + 70 * std::sin(0.5 * c + 0.25 * r) + 40 * std::cos(0.07 * r * c) + noise;
            if (c > w / 2 + r / 3) v = 255 - v;  // a slanted step
            pixels.push_back(static_cast<unsigned char>(std::lround(std::fmin(255.0, std::fmax(0.0, v)))));
        }
    }
    return pixels;
}

unsigned long long upscaled_checksum(const std::string& input) {
    const std::string output = input + ".x2.pgm";
    const RunResult run = run_program(exe, {input, output});
    EXPECT_EQ(run.status, 0) << run.output;
    return fnv1a(read_file(output));
}

TEST(PinnedOutput, ChartsAndTexturedImages) {
    const std::string dir = make_scratch_dir();
    struct Case {
        std::string name;
        unsigned long long checksum;
    };
    const Case charts[] = {{"256", 0x5f058c4ae27cbe7eULL}, {"97", 0xbcd27e2a04363d42ULL}};
    for (const Case& chart : charts) {
        const std::string input = dir + "/chart" + chart.name + ".pgm";
        ASSERT_EQ(run_program(make_chart, {input, chart.name}).status, 0);
        EXPECT_EQ(upscaled_checksum(input), chart.checksum) << "chart " << chart.name << std::hex
                                                          << " got 0x" << upscaled_checksum(input);
    }
    const struct {
        int w, h;
        unsigned long long checksum;
    } textured[] = {{61, 45, 0xcc213873a0ae2527ULL}, {40, 33, 0x5ee02b9b3eea5337ULL}};
    for (const auto& image : textured) {
        const std::string input = dir + "/textured" + std::to_string(image.w) + "x" + std::to_string(image.h) + ".pgm";
        write_file(input, pgm_bytes(image.w, image.h, textured_pixels(image.w, image.h)));
        const unsigned long long got = upscaled_checksum(input);
        EXPECT_EQ(got, image.checksum) << image.w << "x" << image.h << std::hex << " got 0x" << got;
    }
}

TEST(PinnedGrid, RefinedValuesOfTexturedImages) {
    const struct {
        int w, h;
        unsigned long long checksum;
    } textured[] = {{61, 45, 0x5756c0d1f5c4a5d4ULL}, {40, 33, 0xbfbe80ea45288785ULL}};
    for (const auto& image : textured) {
        const std::vector<unsigned char> pixels = textured_pixels(image.w, image.h);
        std::vector<double> grid(4 * pixels.size());
        upsample_initial(image.w, pixels.data(), grid.data(), image.h);
        ASSERT_EQ(refine_image(grid.data(), image.w, image.h), 0);
        const std::string bytes(reinterpret_cast<const char*>(grid.data()), grid.size() * sizeof(double));
        const unsigned long long got = fnv1a(bytes);
        EXPECT_EQ(got, image.checksum) << image.w << "x" << image.h << std::hex << " got 0x" << got;
    }
}

TEST(PinnedOutput, SameInputSameBytes) {
    const std::string dir = make_scratch_dir();
    const std::string input = dir + "/in.pgm";
    write_file(input, pgm_bytes(37, 29, textured_pixels(37, 29)));
    EXPECT_EQ(upscaled_checksum(input), upscaled_checksum(input));
}

}  // namespace
