// Pinned outputs: the exact bytes the tool writes for a few fixed inputs,
// and the exact values the refinement leaves in the grid.
//
// Speed work must not change a single output byte.  Every pinned value was
// derived from the straightforward refinement (tests/reference), and each
// test checks that refinement against it too, so the values say what the
// algorithm computes, not what some version of the engine happened to print.
// The grid checksums are taken in this process, so that they also hold the
// code for other processors to account when the tests run on an emulated one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "interp/upscale.h"
#include "interp/upsample.h"
#include "reference/reference_refine.h"
#include "test_images.h"
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
