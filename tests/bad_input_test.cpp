// Hostile and broken inputs, and outputs that cannot be written, against the
// real executable.  Every refused run must exit with status 1 after printing
// exactly its message, and leave the output's directory as it found it: no
// output, no temporary file beside it, an existing output unchanged.
#if defined(__linux__)
#include <sys/mount.h>
#endif
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <string>
#include <vector>

#include "test_images.h"
#include "test_programs.h"
#include "test_support.h"

namespace quillmorph {

namespace {

const std::string exe = QUILLMORPH_EXE;

std::string started(const std::string& in) { return "Start processing file: " + in + ".\n"; }
std::string header_error(const std::string& in) { return "PGM file " + in + " header error.\n"; }
std::string cannot_write(const std::string& out) { return "Cannot write file: " + out + ".\n"; }

std::string repeated(std::size_t count, char byte) { return std::string(count, byte); }

// Every entry of a directory with the contents of its regular files: equal
// snapshots mean nothing was created, removed or changed there.
using Snapshot = std::map<std::string, std::string>;

Snapshot snapshot(const std::string& dir) {
    Snapshot entries;
    for (const std::string& name : list_directory(dir)) {
        const std::string path = dir + "/" + name;
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error))
            entries[name] = read_file(path);
        else
            entries[name] = "(not a regular file)";
    }
    return entries;
}

std::string parent_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

// Runs Quillmorph in out twice, once with no file at out and once with an
// existing one, and expects both runs to be refused with exactly `expected`.
void expect_refusal(const std::string& in, const std::string& out, const std::string& expected) {
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "with an existing output" : "with no output yet");
        if (existing)
            write_file(out, "precious");
        else
            std::remove(out.c_str());
        const Snapshot before = snapshot(parent_of(out));
        const RunResult run = run_program(exe, {in, out});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, expected);
        EXPECT_EQ(snapshot(parent_of(out)), before);
    }
}

struct InputCase {
    const char* name;
    std::string bytes;
    std::string expected;  // stdout after the start line; IN stands for the input path
};

TEST(BadInput, RefusedWithTheirOwnMessage) {
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    const std::string header = "PGM file IN header error.\n";
    const std::string format = "Format error. Can only support 8-bit gray scale image.\n";
    const std::string hundred_kb = repeated(100 * 1024, '7');
    const InputCase cases[] = {
        {"magic only", "P5", header},
        {"magic line only", "P5\n", header},
        {"maxval 0", "P5\n4 3\n0\n" + repeated(12, 'x'), format},
        {"maxval beyond int", "P5\n4 3\n99999999999\n" + repeated(12, 'x'), header},
        {"width beyond int", "P5\n4294967297 3\n255\n", header},
        {"width beyond 64 bits", "P5\n18446744073709551617 3\n255\n", header},
        {"most negative sizes", "P5\n-2147483648 -2147483648\n255\n",
         "PGM file IN has an unsupported size of -2147483648 x -2147483648 pixels "
         "(each side must be 3 or more).\n"},
        {"side 1", pgm_bytes(1, 3, {1, 2, 3}),
         "PGM file IN has an unsupported size of 1 x 3 pixels (each side must be 3 or more).\n"},
        // Only a few rows are held at a time, so pixel counts past 2^31, 2^32
        // and 2^64 are no limit: the claim is refused only because the file
        // does not hold the pixels.
        {"pixel count past 2^31", "P5\n46341 46341\n255\n",
         "PGM file IN is truncated: it holds fewer than 46341 x 46341 pixels.\n"},
        {"pixel count 2^32", "P5\n65536 65536\n255\n" + repeated(10, 'x'),
         "PGM file IN is truncated: it holds fewer than 65536 x 65536 pixels.\n"},
        {"2H overflows int", "P5\n3 2147483647\n255\n",
         "PGM file IN is too large to process: 3 x 2147483647 pixels.\n"},
        {"byte count past 2^64", "P5\n1073741823 1073741823\n255\n",
         "PGM file IN is truncated: it holds fewer than 1073741823 x 1073741823 pixels.\n"},
        {"2W overflows int", "P5\n1073741824 3\n255\n",
         "PGM file IN is too large to process: 1073741824 x 3 pixels.\n"},
        {"200 MB claimed, 10 bytes sent", "P5\n20000 10000\n255\n0123456789",
         "PGM file IN is truncated: it holds fewer than 20000 x 10000 pixels.\n"},
        {"100 KB line without newline", hundred_kb, header},
        {"100 KB magic line without newline", "P5 " + hundred_kb, header},
        {"100 KB size line without newline", "P5\n" + hundred_kb, header},
        {"100 KB maxval line without newline", "P5\n4 3\n" + hundred_kb, header},
        {"100 KB comment without newline", "P5\n#" + hundred_kb, header},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + ": " + cases[i].name);
        write_file(in, cases[i].bytes);
        expect_refusal(in, out, started(in) + replace_all(cases[i].expected, "IN", in));
    }
}

// The file ends at every byte of a valid header in turn.  outcomes[n] is what
// the first n bytes give: H a header error, F a format error (the maxval read
// so far is 2 or 25), T no pixels after a complete header.
struct TruncationCase {
    const char* name;
    std::string header;
    std::string outcomes;
};

TEST(BadInput, EveryTruncationOfAValidHeader) {
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    const TruncationCase cases[] = {
        {"three lines", "P5\n4 3\n255\n", "HHHHHHHHFFTT"},
        {"one line", "P5 4 3 255\n", "HHHHHHHHFFTT"},
        {"size and maxval on one line", "P5\n4 3 255\n", "HHHHHHHHFFTT"},
        {"with comments", "# c\nP5\n# s\n4 3\n# m\n255\n", "HHHHHHHHHHHHHHHHHHHHFFTT"},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const TruncationCase& c = cases[i];
        ASSERT_EQ(c.outcomes.size(), c.header.size() + 1) << c.name;
        for (std::size_t n = 0; n <= c.header.size(); ++n) {
            SCOPED_TRACE("row " + std::to_string(i) + " (" + c.name + "), first " +
                         std::to_string(n) + " bytes");
            write_file(in, c.header.substr(0, n));
            std::string expected = started(in);
            switch (c.outcomes[n]) {
                case 'H':
                    expected += header_error(in);
                    break;
                case 'F':
                    expected += "Format error. Can only support 8-bit gray scale image.\n";
                    break;
                case 'T':
                    expected +=
                        "PGM file " + in + " is truncated: it holds fewer than 4 x 3 pixels.\n";
                    break;
            }
            expect_refusal(in, out, expected);
        }
    }
}

TEST(BadInput, DevNullIsAnEmptyInput) {
    if (!file_exists("/dev/null")) GTEST_SKIP() << "no /dev/null on this system";
    const std::string out = make_scratch_dir() + "/out.pgm";
    expect_refusal("/dev/null", out, started("/dev/null") + header_error("/dev/null"));
}

// Input from a pipe, whose size the reader cannot check before allocating.
RunResult run_from_pipe(const std::string& bytes_file, const std::string& out) {
    return run_program("/bin/sh",
                       {"-c", "cat \"$1\" | exec \"$0\" /dev/stdin \"$2\"", exe, bytes_file, out});
}

TEST(BadInput, PipeInputIsReadAsFarAsItGoes) {
    if (!file_exists("/bin/sh") || !file_exists("/dev/stdin"))
        GTEST_SKIP() << "needs a POSIX shell and /dev/stdin to feed the program from a pipe";
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    // A claim of 10^11 bytes that only ten bytes back: rows are read as they
    // are needed, so the first one is found short.
    write_file(in, "P5\n1000 100000000\n255\n0123456789");
    RunResult run = run_from_pipe(in, out);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, started("/dev/stdin") +
                              "PGM file /dev/stdin is truncated: it holds fewer than 1000 x "
                              "100000000 pixels.\n");
    EXPECT_FALSE(file_exists(out));

    // Tens of kilobytes, one byte short, then whole: the same verdicts and the
    // same output as from the file itself.  Three rows keep the run fast.
    const std::string image = valid_image(22000, 3);
    write_file(in, image.substr(0, image.size() - 1));
    run = run_from_pipe(in, out);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output,
              started("/dev/stdin") +
                  "PGM file /dev/stdin is truncated: it holds fewer than 22000 x 3 pixels.\n");
    EXPECT_FALSE(file_exists(out));

    write_file(in, image);
    ASSERT_EQ(run_from_pipe(in, out).status, 0);
    const std::string from_pipe = read_file(out);
    ASSERT_EQ(run_program(exe, {in, out}).status, 0);
    EXPECT_EQ(from_pipe, read_file(out));
    EXPECT_EQ(from_pipe.size(), std::string("P5\n 44000 6\n255\n").size() + 4 * 22000 * 3);
}

// A comment line is skipped up to its own newline even when it holds a NUL
// byte; it must not swallow the magic line after it.
TEST(BadInput, CommentHoldingANulByte) {
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    const char header[] = "#a\0b\nP5\n# c\0d\n4 3\n255\n";
    write_file(in, std::string(header, sizeof header - 1) + repeated(12, '\x40'));
    const RunResult run = run_program(exe, {in, out});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(read_file(out), "P5\n 8 6\n255\n" + repeated(48, '\x40'));
}

TEST(BadOutput, RefusesOutputItMayNotWrite) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs POSIX file modes and another user to run as";
#else
    const std::string reason = cannot_run_unprivileged(exe);
    if (!reason.empty()) GTEST_SKIP() << reason;
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm";
    const std::string open_dir = dir + "/open", locked_dir = dir + "/locked";
    write_file(in, valid_image(4, 3));
    ASSERT_EQ(mkdir(open_dir.c_str(), 0777), 0);
    ASSERT_EQ(mkdir(locked_dir.c_str(), 0777), 0);
    write_file(locked_dir + "/out.pgm", "precious");
    write_file(open_dir + "/read-only.pgm", "precious");
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(chmod(in.c_str(), 0644), 0);
    ASSERT_EQ(chmod(open_dir.c_str(), 0777), 0);  // past the umask
    ASSERT_EQ(chmod(locked_dir.c_str(), 0555), 0);
    ASSERT_EQ(chmod((open_dir + "/read-only.pgm").c_str(), 0444), 0);
    // Read-only for its owner too: a writable file there would be written
    // in place, as a plain open would.
    ASSERT_EQ(chmod((locked_dir + "/out.pgm").c_str(), 0444), 0);

    // The control: the same user may write a new file in the open directory.
    const RunResult control = run_program(exe, {in, open_dir + "/new.pgm"}, true);
    ASSERT_EQ(control.status, 0) << control.output;
    ASSERT_EQ(std::remove((open_dir + "/new.pgm").c_str()), 0);

    const std::string refused[] = {locked_dir + "/new.pgm", locked_dir + "/out.pgm",
                                   open_dir + "/read-only.pgm"};
    for (const std::string& out : refused) {
        SCOPED_TRACE(out);
        const Snapshot before = snapshot(parent_of(out));
        const RunResult run = run_program(exe, {in, out}, true);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, started(in) + cannot_write(out));
        EXPECT_EQ(snapshot(parent_of(out)), before);
    }
#endif
}

// A tmpfs mounted for one test and unmounted however the test ends.
struct SmallDisk {
    std::string path;
    bool mounted = false;
    int error = 0;
    SmallDisk(const std::string& where, const char* size) : path(where) {
        std::error_code ignored;
        std::filesystem::create_directory(path, ignored);
#if defined(__linux__)
        const std::string options = std::string("size=") + size;
        mounted = mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
        error = mounted ? 0 : errno;
#else
        (void)size;
        error = ENOSYS;  // tmpfs mounts with a size are Linux's
#endif
    }
    ~SmallDisk() {
#if defined(__linux__)
        if (mounted) umount2(path.c_str(), MNT_DETACH);
#endif
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

TEST(BadOutput, FullDiskLeavesNoPartialOutput) {
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm";
    write_file(in, valid_image(64, 64));  // a 16 KB output

    // A device that is always full is written in place; its failure shows at close.
    const bool have_dev_full = file_exists("/dev/full");
    if (have_dev_full) {
        const RunResult run = run_program(exe, {in, "/dev/full"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, started(in) + cannot_write("/dev/full"));
    }

    const SmallDisk disk(dir + "/disk", "8k");
    if (!disk.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(disk.error)
                     << "); the full-disk case of a regular output is not run"
                     << (have_dev_full ? "" : ", nor the /dev/full case: there is none");
    expect_refusal(in, disk.path + "/out.pgm", started(in) + cannot_write(disk.path + "/out.pgm"));
}

}  // namespace

}  // namespace quillmorph
