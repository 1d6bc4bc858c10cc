// The image streamed down its rows, end to end: output that leaves before
// the input ends, input that ends early on the way, and images wider than
// any whole-image design could hold in a test.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "test_images.h"
#include "test_programs.h"
#include "test_support.h"

namespace quillmorph {

namespace {

const std::string exe = QUILLMORPH_EXE;
const std::string reference_upscale = REFERENCE_UPSCALE_EXE;

// The image a plain run writes to a fresh file.
std::string upscale_file(const std::string& program, const std::string& in,
                         const std::string& out) {
    const RunResult run = run_program(program, {in, out});
    EXPECT_EQ(run.status, 0) << run.output;
    return read_file(out);
}

std::string header_of(int w, int h) {
    return "P5\n " + std::to_string(2 * w) + " " + std::to_string(2 * h) + "\n255\n";
}

// Half the rows go in, and the pipeline must hand rows out before the rest
// follows: the feeding shell waits for the first output byte (for a minute
// at most, then it notes that it gave up and sends the rest anyway).
TEST(Streaming, FirstRowsLeaveBeforeTheInputEnds) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs a POSIX shell to stage a pipe's input";
#else
    if (!file_exists("/bin/sh")) GTEST_SKIP() << "needs a POSIX shell to stage a pipe's input";
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm";
    const int w = 256, h = 200;
    const std::string image = valid_image(w, h);
    write_file(in, image);
    const std::size_t half = image.size() - to_size(w) * to_size(h / 2);
    const std::string script =
        "in=$1 exe=$2 half=$3 dir=$4\n"
        "{ head -c \"$half\" \"$in\"\n"
        "  i=0\n"
        "  while [ ! -s \"$dir/first\" ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done\n"
        "  [ -s \"$dir/first\" ] || echo gave up > \"$dir/late\"\n"
        "  tail -c +\"$((half + 1))\" \"$in\"\n"
        "} | \"$exe\" - - 2> \"$dir/messages\" |\n"
        "{ dd bs=1 count=1 of=\"$dir/first\" 2> /dev/null; cat > \"$dir/rest\"; }\n";
    const RunResult run =
        run_program("/bin/sh", {"-c", script, "sh", in, exe, std::to_string(half), dir});
    EXPECT_EQ(run.status, 0) << read_file(dir + "/messages");
    EXPECT_FALSE(file_exists(dir + "/late")) << "no output came before the input ended";
    EXPECT_TRUE(read_file(dir + "/first") + read_file(dir + "/rest") ==
                upscale_file(exe, in, dir + "/plain.pgm"))
        << "the piped image differs from the plain run's";
#endif
}

// Input that ends early on its way to standard output: the image stream
// simply stops, with the rows finished so far, and the message goes to
// standard error.
TEST(Streaming, TruncatedInputEndsTheImageStreamEarly) {
#if defined(_WIN32)
    GTEST_SKIP() << "standard input is a file here, whose size is checked before any work";
#endif
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm";
    const int w = 64, h = 120;
    const std::string image = valid_image(w, h);
    write_file(in, image);
    const std::string whole = upscale_file(exe, in, dir + "/plain.pgm");

    const RunResult run =
        run_program_piped(exe, {"-", "-"}, image.substr(0, image.size() - to_size(w)));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors,
              "Start processing file: -.\nPGM file - is truncated: it holds fewer than " +
                  std::to_string(w) + " x " + std::to_string(h) + " pixels.\n");
    EXPECT_GT(run.output.size(), header_of(w, h).size()) << "no row left before the end";
    EXPECT_LT(run.output.size(), whole.size());
    EXPECT_TRUE(run.output == whole.substr(0, run.output.size()))
        << "the rows written are not the image's first rows";
}

// A 200,000-pixel-wide image a few rows high, made of one 40-column tile
// repeated: each output pixel depends only on its neighbourhood, so the
// wide image's output is that of three tiles side by side, the middle tile
// repeated.  The three tiles' output is checked against the straightforward
// refinement.
TEST(Streaming, VeryWideImagesWork) {
    const int tile = 40, h = 6, narrow = 3 * tile, wide = 200000;
    const auto tiled = [&](int w) {
        std::vector<unsigned char> pixels(to_size(w) * to_size(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double t = 2 * 3.14159265358979 * (x % tile) / tile;
                pixels[cell(y, x, w)] =
                    pixel(128 + 90 * std::sin(t + 0.4 * y) + (x % tile % 7) * 3);
            }
        return pgm_bytes(w, h, pixels);
    };
    const std::string dir = make_scratch_dir();
    write_file(dir + "/narrow.pgm", tiled(narrow));
    write_file(dir + "/wide.pgm", tiled(wide));
    const std::string small = upscale_file(exe, dir + "/narrow.pgm", dir + "/narrow.out");
    EXPECT_TRUE(small ==
                upscale_file(reference_upscale, dir + "/narrow.pgm", dir + "/reference.out"))
        << "the engine and the straightforward tool differ";
    const std::string big = upscale_file(exe, dir + "/wide.pgm", dir + "/wide.out");

    const std::size_t small_header = header_of(narrow, h).size();
    const std::size_t big_header = header_of(wide, h).size();
    ASSERT_EQ(big.size(), big_header + 4 * to_size(wide) * to_size(h));
    const int period = 2 * tile, small_w2 = 2 * narrow, big_w2 = 2 * wide;
    int differing = 0;
    for (int r = 0; r < 2 * h; ++r)
        for (int c = 0; c < big_w2; ++c) {
            // The left and right tiles as they are, the middle one repeated.
            const int from = c < period             ? c
                             : c >= big_w2 - period ? c - (big_w2 - small_w2)
                                                    : period + c % period;
            differing += big[big_header + cell(r, c, big_w2)] !=
                         small[small_header + cell(r, from, small_w2)];
        }
    EXPECT_EQ(differing, 0);
}

}  // namespace

}  // namespace quillmorph
