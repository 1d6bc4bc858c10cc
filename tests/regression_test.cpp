// Pinned outputs: the exact bytes the tool writes for a few fixed inputs,
// the exact samples the library writes for a few 16-bit ones, and the exact
// values the refinement leaves in the grid.
//
// Speed work must not change a single output byte.  Every pinned value was
// derived from the straightforward refinement (tests/reference), and each
// test checks that refinement against it too, so the values say what the
// algorithm computes, not what some version of the engine happened to print.
// The grid checksums are taken in this process, so that they also hold the
// code for other processors to account when the tests run on an emulated one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "interp/upscale.h"
#include "interp/upsample.h"
#include "quillmorph.h"
#include "reference/reference_refine.h"
#include "test_images.h"
#include "test_programs.h"
#include "test_support.h"

namespace quillmorph {

namespace {

const std::string exe = QUILLMORPH_EXE;
const std::string make_chart = MAKE_CHART_EXE;
const std::string reference_upscale = REFERENCE_UPSCALE_EXE;

unsigned long long upscaled_checksum(const std::string& program, const std::string& input) {
    const std::string output = input + ".x2.pgm";
    const RunResult run = run_program(program, {input, output});
    EXPECT_EQ(run.status, 0) << run.output;
    return fnv1a(read_file(output));
}

// The tool and the straightforward refinement both write the pinned bytes.
void expect_pinned_output(const std::string& input, unsigned long long pinned) {
    for (const std::string& program : {exe, reference_upscale}) {
        const unsigned long long got = upscaled_checksum(program, input);
        EXPECT_EQ(got, pinned) << program << " on " << input << std::hex << " got 0x" << got;
    }
}

TEST(PinnedOutput, ChartsAndTexturedImages) {
    const std::string dir = make_scratch_dir();
    const struct {
        const char* size;
        unsigned long long checksum;
    } charts[] = {{"256", 0x72463027870b9fb2ULL}, {"97", 0x838ee6cbba14fb32ULL}};
    for (const auto& chart : charts) {
        const std::string input = dir + "/chart" + chart.size + ".pgm";
        ASSERT_EQ(run_program(make_chart, {input, chart.size}).status, 0);
        expect_pinned_output(input, chart.checksum);
    }
    const struct {
        int w, h;
        unsigned long long checksum;
    } textured[] = {{61, 45, 0x379c6f1badfa631fULL}, {40, 33, 0x5ee02b9b3eea5337ULL}};
    for (const auto& image : textured) {
        const std::string input =
            dir + "/textured" + std::to_string(image.w) + "x" + std::to_string(image.h) + ".pgm";
        write_file(input, pgm_bytes(image.w, image.h, textured_pixels(image.w, image.h)));
        expect_pinned_output(input, image.checksum);
    }
}

// The textured image in 16 bits with the given maxval: its levels scaled,
// and up to one 8-bit level of noise from a fixed linear congruential
// generator, so that the low bits carry information of their own.
std::vector<std::uint16_t> deep_textured_samples(int w, int h, int maxval) {
    const std::vector<unsigned char> levels = textured_pixels(w, h);
    std::vector<std::uint16_t> samples(levels.size());
    std::uint32_t state = 4242;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const int noise = static_cast<int>((state >> 8) % static_cast<unsigned>(maxval / 255 + 1));
        samples[i] = static_cast<std::uint16_t>(std::min(maxval, levels[i] * maxval / 255 + noise));
    }
    return samples;
}

// Most significant byte first, as a 16-bit PGM file holds them, so that the
// checksum is the same on machines of either byte order.
std::string big_endian_bytes(const std::vector<std::uint16_t>& samples) {
    std::string bytes;
    for (const std::uint16_t s : samples) {
        bytes.push_back(static_cast<char>(s >> 8));
        bytes.push_back(static_cast<char>(s & 0xff));
    }
    return bytes;
}

// qm_upscale16 and the straightforward refinement both write the pinned
// samples, at the full 16-bit maxval and at a 12-bit camera's.
TEST(PinnedOutput, SixteenBitTexturedImages) {
    const struct {
        int w, h, maxval;
        unsigned long long checksum;
    } images[] = {{61, 45, 65535, 0x0fc8d0d17755b78eULL}, {40, 33, 4095, 0x2c5f47e8de26e68eULL}};
    for (const auto& image : images) {
        const int w = image.w, h = image.h;
        const std::vector<std::uint16_t> lr = deep_textured_samples(w, h, image.maxval);
        std::vector<std::uint16_t> api(4 * lr.size());
        qm_options* options = qm_options_new();
        EXPECT_EQ(qm_options_set_maxval(options, image.maxval), QM_OK);
        EXPECT_EQ(qm_upscale16(lr.data(), w, h, 2 * w, api.data(), 4 * w, options), QM_OK);
        qm_options_free(options);
        std::vector<double> grid = upsampled(w, h, lr, image.maxval);
        reference::refine(grid.data(), w, h, reference::Rules{true, image.maxval});
        std::vector<std::uint16_t> straightforward(grid.size());
        for (std::size_t i = 0; i < grid.size(); ++i)
            straightforward[i] =
                static_cast<std::uint16_t>(reference::output_sample(grid[i], image.maxval));
        for (const std::vector<std::uint16_t>* samples : {&api, &straightforward}) {
            const unsigned long long got = fnv1a(big_endian_bytes(*samples));
            EXPECT_EQ(got, image.checksum)
                << w << "x" << h << ", maxval " << image.maxval << std::hex << " got 0x" << got
                << (samples == &api ? " (qm_upscale16)" : " (straightforward)");
        }
    }
}

unsigned long long grid_checksum(const std::vector<double>& grid) {
    return fnv1a(
        std::string(reinterpret_cast<const char*>(grid.data()), grid.size() * sizeof(double)));
}

TEST(PinnedGrid, RefinedValuesOfTexturedImages) {
    const struct {
        int w, h;
        unsigned long long checksum;
    } textured[] = {{61, 45, 0x5f8d8c8a594f599aULL}, {40, 33, 0xbfbe80ea45288785ULL}};
    for (const auto& image : textured) {
        const std::vector<unsigned char> pixels = textured_pixels(image.w, image.h);
        std::vector<double> grid = upscaled(image.w, image.h, pixels);
        std::vector<double> straightforward = upsampled(image.w, image.h, pixels);
        reference::refine(straightforward.data(), image.w, image.h);
        for (const std::vector<double>* refined : {&grid, &straightforward}) {
            const unsigned long long got = grid_checksum(*refined);
            EXPECT_EQ(got, image.checksum)
                << image.w << "x" << image.h << std::hex << " got 0x" << got
                << (refined == &grid ? " (engine)" : " (straightforward)");
        }
    }
}

TEST(PinnedOutput, SameInputSameBytes) {
    const std::string dir = make_scratch_dir();
    const std::string input = dir + "/in.pgm";
    write_file(input, pgm_bytes(37, 29, textured_pixels(37, 29)));
    EXPECT_EQ(upscaled_checksum(exe, input), upscaled_checksum(exe, input));
}

}  // namespace

}  // namespace quillmorph
