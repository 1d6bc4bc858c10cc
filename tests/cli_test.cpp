// End-to-end tests: the real executable on real files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_programs.h"
#include "quillmorph.h"
#include "test_support.h"

namespace quillmorph {

namespace {

const std::string exe = QUILLMORPH_EXE;

std::vector<unsigned char> ramp_pixels(int w, int h) {
    std::vector<unsigned char> pixels;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            pixels.push_back(static_cast<unsigned char>((r * 37 + c * 11) % 256));
    return pixels;
}

// The three lines of a successful run; the time varies, its format does not.
void expect_success(const RunResult& run, const std::string& input, const std::string& output) {
    EXPECT_EQ(run.status, 0);
    const std::string head =
        "Start processing file: " + input + ".\nWrite to file: " + output + ".\n";
    ASSERT_EQ(run.output.substr(0, head.size()), head) << run.output;
    const std::string time_line = run.output.substr(head.size());
    const std::string prefix = "Time used: ", suffix = " minutes.\n";
    ASSERT_GT(time_line.size(), prefix.size() + suffix.size()) << run.output;
    EXPECT_EQ(time_line.substr(0, prefix.size()), prefix);
    EXPECT_EQ(time_line.substr(time_line.size() - suffix.size()), suffix);
    const std::string number =
        time_line.substr(prefix.size(), time_line.size() - prefix.size() - suffix.size());
    EXPECT_EQ(number.find_first_not_of("0123456789."), std::string::npos) << number;
    EXPECT_EQ(number.size() - number.find('.'), 7u) << "six decimals: " << number;
}

TEST(Cli, UsageWithTooFewArguments) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"in.pgm"}}) {
        const RunResult run = run_program(exe, args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, "Usage: Quillmorph lrimg(pgm) hrimg(pgm)\n");
    }
}

TEST(Cli, UpscalesValidImageToTwiceTheSize) {
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    const int w = 7, h = 5;
    write_file(in, pgm_bytes(w, h, ramp_pixels(w, h)));
    const RunResult run = run_program(exe, {in, out, "extra", "arguments"});
    expect_success(run, in, out);
    const std::string header = "P5\n 14 10\n255\n";
    const std::string written = read_file(out);
    ASSERT_EQ(written.size(), header.size() + 4 * w * h);
    EXPECT_EQ(written.substr(0, header.size()), header);
    // The LR pixels stand unchanged at the even positions.
    const std::vector<unsigned char> lr = ramp_pixels(w, h);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            EXPECT_EQ(static_cast<unsigned char>(
                          written[header.size() + static_cast<std::size_t>(2 * r * 2 * w + 2 * c)]),
                      lr[static_cast<std::size_t>(r * w + c)]);
}

TEST(Cli, AcceptsHeaderLayouts) {
    const std::string dir = make_scratch_dir();
    const std::string pixels(12, '\x40');
    const std::string headers[] = {"P5 4 3 255\n", "P5\n4 3 255\n",
                                   "# made here\nP5\n# size\n4 3\n# depth\n255\n",
                                   "P5\n#" + std::string(400, '9') + "\n4 3\n255\n"};
    for (const std::string& header : headers) {
        write_file(dir + "/in.pgm", header + pixels);
        const RunResult run = run_program(exe, {dir + "/in.pgm", dir + "/out.pgm"});
        EXPECT_EQ(run.status, 0) << header << run.output;
        EXPECT_EQ(read_file(dir + "/out.pgm"), "P5\n 8 6\n255\n" + std::string(48, '\x40'))
            << header;
    }
}

TEST(Cli, OutputMayReplaceTheInput) {
    const std::string dir = make_scratch_dir();
    const std::string path = dir + "/image.pgm";
    write_file(path, pgm_bytes(4, 3, ramp_pixels(4, 3)));
    expect_success(run_program(exe, {path, path}), path, path);
    EXPECT_EQ(read_file(path).size(), std::string("P5\n 8 6\n255\n").size() + 48);
}

// QUILLMORPH_CPU may name a copy of the vector code: a lower one writes the
// same bytes; one that is unknown, or that this processor cannot run, is a
// sentence and status 1 before anything is written, never another copy.
TEST(Cli, RunsTheVectorCodeQuillmorphCpuNames) {
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    write_file(in, pgm_bytes(9, 7, ramp_pixels(9, 7)));
    expect_success(run_program(exe, {in, out}), in, out);
    const std::string chosen = read_file(out);
    set_environment("QUILLMORPH_CPU", "generic");
    expect_success(run_program(exe, {in, out}), in, out);
    EXPECT_EQ(read_file(out), chosen);
    for (const char* refused : {"pdp11", "AVX2", "neon avx2"}) {
        write_file(out, "kept");
        set_environment("QUILLMORPH_CPU", refused);
        const RunResult run = run_program(exe, {in, out});
        EXPECT_EQ(run.status, 1) << refused;
        EXPECT_EQ(run.output, "Start processing file: " + in + ".\nCannot process file " + in +
                                  ": " + qm_status_string(QM_ERROR_VECTOR_TARGET) + "\n");
        EXPECT_EQ(read_file(out), "kept");
    }
    set_environment("QUILLMORPH_CPU", "");
}

struct FailureCase {
    const char* name;
    std::string input;     // file contents; empty name means "do not create"
    std::string expected;  // stdout after the start line, with IN for the input path
};

TEST(Cli, RefusesBadInputWithoutTouchingTheOutput) {
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    const std::string format_error = "Format error. Can only support 8-bit gray scale image.\n";
    const FailureCase cases[] = {
        {"P6", "P6\n4 3\n255\n" + std::string(36, 'x'), format_error},
        {"P7", "P7 4 3 255\n" + std::string(12, 'x'), format_error},
        {"maxval 15", "P5\n4 3\n15\n" + std::string(12, 'x'), format_error},
        {"maxval 65535", "P5\n4 3\n65535\n" + std::string(24, 'x'), format_error},
        {"P2", "P2\n4 3\n255\n1 2 3 4 5 6 7 8 9 10 11 12\n", "PGM file IN header error.\n"},
        {"empty", "", "PGM file IN header error.\n"},
        {"width 2", pgm_bytes(2, 5, std::vector<unsigned char>(10)),
         "PGM file IN has an unsupported size of 2 x 5 pixels (each side must be 3 or more).\n"},
        {"height 0", "P5\n5 0\n255\n",
         "PGM file IN has an unsupported size of 5 x 0 pixels (each side must be 3 or more).\n"},
        {"negative", "P5\n-4 -4\n255\n",
         "PGM file IN has an unsupported size of -4 x -4 pixels (each side must be 3 or more).\n"},
        {"2W overflows int", "P5\n1073741824 3\n255\n",
         "PGM file IN is too large to process: 1073741824 x 3 pixels.\n"},
        {"a billion squared, not in the file", "P5\n1000000000 1000000000\n255\n",
         "PGM file IN is truncated: it holds fewer than 1000000000 x 1000000000 pixels.\n"},
        {"one byte short", "P5\n4 3\n255\n" + std::string(11, 'x'),
         "PGM file IN is truncated: it holds fewer than 4 x 3 pixels.\n"},
        {"no pixels", "P5\n4 3\n255\n",
         "PGM file IN is truncated: it holds fewer than 4 x 3 pixels.\n"},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const FailureCase& c = cases[i];
        SCOPED_TRACE(std::to_string(i) + ": " + c.name);
        write_file(in, c.input);
        write_file(out, "precious");
        const RunResult run = run_program(exe, {in, out});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output,
                  "Start processing file: " + in + ".\n" + replace_all(c.expected, "IN", in));
        EXPECT_EQ(read_file(out), "precious");
    }
}

TEST(Cli, ReportsInputThatCannotBeOpened) {
    const std::string dir = make_scratch_dir();
    for (const std::string& in : {dir + "/missing.pgm", dir}) {
        const RunResult run = run_program(exe, {in, dir + "/out.pgm"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output,
                  "Start processing file: " + in + ".\nCannot open file: " + in + ".\n");
        EXPECT_FALSE(file_exists(dir + "/out.pgm"));
    }
}

TEST(Cli, ReportsOutputThatCannotBeWritten) {
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm";
    write_file(in, pgm_bytes(4, 3, ramp_pixels(4, 3)));
    // A missing directory, a directory, and (on Linux) a place nobody may
    // create files in.
    std::vector<std::string> outputs = {dir + "/missing/out.pgm", dir};
    if (file_exists("/proc/self")) outputs.push_back("/proc/quillmorph-out.pgm");
    for (const std::string& out : outputs) {
        const RunResult run = run_program(exe, {in, out});
        EXPECT_EQ(run.status, 1) << out;
        EXPECT_EQ(run.output,
                  "Start processing file: " + in + ".\nCannot write file: " + out + ".\n");
    }
    EXPECT_EQ(list_directory(dir), std::vector<std::string>{"in.pgm"});  // no temporary left behind
}

TEST(Cli, WritesToNonRegularFiles) {
    if (!file_exists("/dev/null")) GTEST_SKIP() << "no /dev/null on this system";
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm";
    write_file(in, pgm_bytes(4, 3, ramp_pixels(4, 3)));
    expect_success(run_program(exe, {in, "/dev/null"}), in, "/dev/null");
}

TEST(Cli, NewOutputGetsThePermissionsOfAPlainCreate) {
#if defined(_WIN32)
    GTEST_SKIP() << "POSIX file modes and the umask do not exist on Windows";
#endif
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    write_file(in, pgm_bytes(4, 3, ramp_pixels(4, 3)));
    ASSERT_EQ(run_program(exe, {in, out}).status, 0);
    const RunResult mode = run_program("/usr/bin/stat", {"-c", "%a", out});
    const RunResult reference = run_program("/bin/sh", {"-c", "umask"});
    const int umask_value = std::stoi(reference.output, nullptr, 8);
    EXPECT_EQ(std::stoi(mode.output, nullptr, 8), 0666 & ~umask_value);
}

}  // namespace

}  // namespace quillmorph
