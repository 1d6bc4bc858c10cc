// Where the image goes, end to end: standard input and output, every name of
// standard output, symbolic and hard links, long names, special files,
// directories the user may not write, and owners.  Each run is compared with
// a plain run of the same input to a fresh file.
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_images.h"
#include "test_programs.h"
#include "test_support.h"

namespace quillmorph {

namespace {

const std::string exe = QUILLMORPH_EXE;

// The image a plain run writes to a fresh file, which every other way of
// writing it must match byte for byte.
std::string expected_output(const std::string& dir, const std::string& in) {
    const std::string out = dir + "/expected.out";
    const RunResult run = run_program(exe, {in, out});
    EXPECT_EQ(run.status, 0) << run.output;
    std::string image = read_file(out);
    std::remove(out.c_str());
    return image;
}

std::string success_messages(const std::string& in, const std::string& out) {
    return "Start processing file: " + in + ".\nWrite to file: " + out + ".\nTime used: ";
}

// The messages of a successful run up to the time, which varies.
void expect_success_messages(const std::string& text, const std::string& in,
                             const std::string& out) {
    const std::string head = success_messages(in, out);
    EXPECT_EQ(text.substr(0, head.size()), head) << text;
    EXPECT_EQ(text.find('\n', head.size()), text.size() - 1) << text;
}

std::string without_cr(std::string text) {
    std::string kept;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) kept += text[i];
    return kept;
}

#if !defined(_WIN32)
// Where an ordinary user may create and write files.
std::string shared_scratch_dir() {
    std::string dir = make_scratch_dir();
    chmod(dir.c_str(), 0777);
    return dir;
}
#endif

TEST(StandardStreams, DashReadsStandardInputAndWritesStandardOutput) {
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    const std::string lr = valid_image(9, 7);
    write_file(in, lr);
    const std::string image = expected_output(dir, in);
    struct Case {
        std::string input, output, stdin_bytes;
        bool image_on_stdout;
    };
    const Case cases[] = {
        {"-", "-", lr, true},
        {in, "-", "", true},
        {"-", out, lr, false},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("row " + std::to_string(i) + ": " + c.input + " " + c.output);
        std::remove(out.c_str());
        const RunResult run = run_program_piped(exe, {c.input, c.output}, c.stdin_bytes);
        EXPECT_EQ(run.status, 0) << run.errors;
        if (c.image_on_stdout) {
            EXPECT_EQ(run.output, image);
            expect_success_messages(run.errors, c.input, c.output);
        } else {
            EXPECT_EQ(read_file(out), image);
            expect_success_messages(without_cr(run.output), c.input, c.output);
            EXPECT_EQ(run.errors, "");
        }
    }
}

TEST(StandardStreams, FailuresGoToStandardErrorWhenTheImageGoesToStandardOutput) {
    const RunResult run =
        run_program_piped(exe, {"-", "-"}, "P6\n4 3\n255\n" + std::string(36, 'x'));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(
        run.errors,
        "Start processing file: -.\nFormat error. Can only support 8-bit gray scale image.\n");
}

TEST(StandardStreams, EveryNameOfStandardOutputGetsTheImageAlone) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs /dev/stdout and a POSIX shell";
#else
    if (!file_exists("/dev/stdout") || !file_exists("/bin/sh"))
        GTEST_SKIP() << "needs /dev/stdout and a POSIX shell";
    // As root, a fault here would replace the machine's /dev/stdout: such
    // runs are left to the private mount namespace of the next test.
    const std::string reason = cannot_run_unprivileged(exe);
    if (!reason.empty()) GTEST_SKIP() << "runs only as an ordinary user, and " << reason;
    const std::string dir = shared_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    write_file(in, valid_image(9, 7));
    chmod(in.c_str(), 0644);
    const std::string image = expected_output(dir, in);

    std::vector<std::string> names = {"/dev/stdout"};
    for (const char* name : {"/dev/fd/1", "/proc/self/fd/1"})
        if (file_exists(name)) names.push_back(name);
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + ": " + names[i]);
        // Standard output a pipe ...
        RunResult run = run_program_piped(exe, {in, names[i]}, "", true);
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(run.output, image);
        expect_success_messages(run.errors, in, names[i]);
        // ... and a regular file.
        std::remove(out.c_str());
        run = run_program_piped(
            "/bin/sh", {"-c", "exec \"$0\" \"$1\" \"$2\" > \"$3\"", exe, in, names[i], out}, "",
            true);
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(read_file(out), image);
        expect_success_messages(run.errors, in, names[i]);
    }

    // The file standard output is redirected to, by its own name.
    std::remove(out.c_str());
    const RunResult run = run_program_piped(
        "/bin/sh", {"-c", "exec \"$0\" \"$1\" \"$2\" > \"$2\"", exe, in, out}, "", true);
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(read_file(out), image);
    expect_success_messages(run.errors, in, out);
    EXPECT_EQ(list_directory(dir), (std::vector<std::string>{"in.pgm", "out.pgm"}));
#endif
}

TEST(StandardStreams, DevStdoutAsRootLeavesDevAlone) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs /dev/stdout, mount namespaces and a POSIX shell";
#else
    if (geteuid() != 0) GTEST_SKIP() << "not root: the ordinary user's case is the test before";
    if (!file_exists("/bin/sh")) GTEST_SKIP() << "needs a POSIX shell";
    const RunResult probe =
        run_program("/bin/sh", {"-c", "unshare -m --propagation private true 2>&1"});
    if (probe.status != 0)
        GTEST_SKIP() << "cannot make a private mount namespace: " << probe.output;
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    write_file(in, valid_image(9, 7));
    const std::string image = expected_output(dir, in);
    // /dev here is a tmpfs of this namespace's own, holding only the link
    // the run needs; afterwards the link must still be a link.
    const std::string script =
        "mount -t tmpfs none /dev && ln -s /proc/self/fd/1 /dev/stdout || exit 99\n"
        "\"$0\" \"$1\" /dev/stdout > \"$2\"; status=$?\n"
        "[ -L /dev/stdout ] || echo '/dev/stdout is no longer a link' >&2\n"
        "[ \"$(ls -A /dev)\" = stdout ] || echo \"/dev holds: $(ls -A /dev)\" >&2\n"
        "exit $status";
    const RunResult run = run_program_piped(
        "/bin/sh",
        {"-c", "exec unshare -m --propagation private sh -c \"$0\" \"$@\"", script, exe, in, out},
        "");
    ASSERT_NE(run.status, 99) << "could not set up /dev in the namespace: " << run.errors;
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(read_file(out), image);
    expect_success_messages(run.errors, in, "/dev/stdout");
#endif
}

TEST(OutputFiles, SymbolicLinksAreFollowedAndKept) {
#if defined(_WIN32)
    GTEST_SKIP() << "symbolic links need privileges on Windows";
#else
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm";
    write_file(in, valid_image(9, 7));
    const std::string image = expected_output(dir, in);
    struct Case {
        const char* name;
        std::string link_text;  // the link is dir/links/out.pgm
        std::string target;     // where the image must land
        bool target_exists;
    };
    const std::string links = dir + "/links", other = dir + "/other";
    const Case cases[] = {
        {"same directory", "t.pgm", links + "/t.pgm", true},
        {"relative, other directory", "../other/t.pgm", other + "/t.pgm", true},
        {"absolute", other + "/t.pgm", other + "/t.pgm", true},
        {"dangling", "../other/new.pgm", other + "/new.pgm", false},
        {"chain of two", "second.lnk", other + "/t.pgm", true},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("row " + std::to_string(i) + ": " + c.name);
        for (const std::string& sub : {links, other}) {
            ASSERT_EQ(run_program("/bin/rm", {"-rf", sub}).status, 0);
            ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
        }
        if (c.target_exists) write_file(c.target, "precious");
        ASSERT_EQ(symlink((other + "/t.pgm").c_str(), (links + "/second.lnk").c_str()), 0);
        const std::string link = links + "/out.pgm";
        ASSERT_EQ(symlink(c.link_text.c_str(), link.c_str()), 0);
        const std::vector<std::string> links_before = list_directory(links);

        const RunResult run = run_program(exe, {in, link});
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(read_file(c.target), image);
        char text[4096] = {};
        EXPECT_EQ(readlink(link.c_str(), text, sizeof text - 1),
                  static_cast<long>(c.link_text.size()));
        EXPECT_EQ(std::string(text), c.link_text);
        // No temporary file left in either directory.
        EXPECT_EQ(list_directory(links), links_before);
        std::vector<std::string> expected_other;
        if (c.target.compare(0, other.size(), other) == 0)
            expected_other.push_back(c.target.substr(other.size() + 1));
        EXPECT_EQ(list_directory(other), expected_other);
    }
#endif
}

TEST(OutputFiles, NamesUpToTheLongestAllowed) {
#if defined(_WIN32)
    GTEST_SKIP() << "a whole path is limited to 260 characters on Windows";
#else
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm";
    write_file(in, valid_image(9, 7));
    const std::string image = expected_output(dir, in);
    for (const std::size_t length : {200u, 248u, 249u, 250u, 254u, 255u}) {
        SCOPED_TRACE("a name of " + std::to_string(length) + " bytes");
        const std::string name = std::string(length - 4, 'n') + ".pgm";
        const std::string out = dir + "/" + name;
        for (const bool existing : {false, true}) {
            if (existing) write_file(out, "precious");
            const RunResult run = run_program(exe, {in, out});
            EXPECT_EQ(run.status, 0) << run.output;
            EXPECT_EQ(read_file(out), image);
            EXPECT_EQ(list_directory(dir), (std::vector<std::string>{"in.pgm", name}));
        }
        std::remove(out.c_str());
    }
#endif
}

TEST(OutputFiles, HardLinkedOutputIsWrittenInPlace) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs POSIX hard links and inode numbers";
#else
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm", other = dir + "/other.pgm";
    write_file(in, valid_image(9, 7));
    const std::string image = expected_output(dir, in);
    write_file(out, "precious");
    ASSERT_EQ(link(out.c_str(), other.c_str()), 0);
    struct stat before, after;
    ASSERT_EQ(stat(out.c_str(), &before), 0);
    const RunResult run = run_program(exe, {in, out});
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_EQ(stat(out.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(read_file(other), image);
    EXPECT_EQ(list_directory(dir), (std::vector<std::string>{"in.pgm", "other.pgm", "out.pgm"}));

    // Input from a pipe that ends early: the rows finished so far were
    // staged, and the file keeps what it held.
    write_file(out, "precious");
    const std::string lr = valid_image(9, 40);
    const RunResult cut = run_program_piped(exe, {"-", out}, lr.substr(0, lr.size() - 9));
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(read_file(other), "precious");
    EXPECT_EQ(list_directory(dir), (std::vector<std::string>{"in.pgm", "other.pgm", "out.pgm"}));
#endif
}

TEST(OutputFiles, SpecialFilesAreWrittenDirectly) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs named pipes and a POSIX shell";
#else
    if (!file_exists("/bin/sh")) GTEST_SKIP() << "needs a POSIX shell";
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", fifo = dir + "/fifo", copy = dir + "/copy.pgm";
    write_file(in, valid_image(9, 7));
    const std::string image = expected_output(dir, in);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const RunResult run = run_program(
        "/bin/sh",
        {"-c", "cat \"$2\" > \"$3\" & \"$0\" \"$1\" \"$2\"; status=$?; wait; exit $status", exe, in,
         fifo, copy});
    EXPECT_EQ(run.status, 0) << run.output;
    expect_success_messages(run.output, in, fifo);
    EXPECT_EQ(read_file(copy), image);
    struct stat status;
    ASSERT_EQ(stat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
#endif
}

// A file the user may write, in a directory where the user may not replace
// it: written in place, as a plain open would, the image staged in the
// temporary directory (here one of the test's own) first.
TEST(OutputFiles, WritableFileInADirectoryThatRefusesTheRename) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs POSIX file modes and another user to run as";
#else
    const std::string reason = cannot_run_unprivileged(exe);
    if (!reason.empty()) GTEST_SKIP() << reason;
    const std::string dir = make_scratch_dir();
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    const std::string in = dir + "/in.pgm";
    write_file(in, valid_image(9, 7));
    ASSERT_EQ(chmod(in.c_str(), 0644), 0);
    const std::string image = expected_output(dir, in);
    struct Case {
        const char* name;
        std::string dir;
        unsigned mode;
        bool needs_another_owner;  // the sticky bit binds only those who own neither
    };
    const Case cases[] = {
        {"read-only directory", dir + "/locked", 0555, false},
        {"sticky directory of another user", dir + "/sticky", 01777, true},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("row " + std::to_string(i) + ": " + c.name);
        if (c.needs_another_owner && geteuid() != 0) {
            std::printf("row %zu skipped: only root can set up a file of another user\n", i);
            continue;
        }
        const std::string out = c.dir + "/out.pgm";
        ASSERT_EQ(mkdir(c.dir.c_str(), 0755), 0);
        write_file(out, "precious");
        ASSERT_EQ(chmod(out.c_str(), 0666), 0);
        ASSERT_EQ(chmod(c.dir.c_str(), c.mode), 0);
        const std::string staging = shared_scratch_dir();
        const RunResult run =
            run_program("/usr/bin/env", {"TMPDIR=" + staging, exe, in, out}, true);
        EXPECT_EQ(run.status, 0) << run.output;
        expect_success_messages(run.output, in, out);
        EXPECT_EQ(read_file(out), image);
        EXPECT_EQ(list_directory(c.dir), std::vector<std::string>{"out.pgm"});
        EXPECT_EQ(list_directory(staging), std::vector<std::string>{});
    }
#endif
}

TEST(OutputFiles, ReplacedFileKeepsOwnerGroupAndMode) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs POSIX owners and file modes";
#else
    if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    write_file(in, valid_image(9, 7));
    const std::string image = expected_output(dir, in);
    constexpr unsigned other_user = 65534, other_group = 65533, mode = 0640;
    write_file(out, "precious");
    ASSERT_EQ(chown(out.c_str(), other_user, other_group), 0);
    ASSERT_EQ(chmod(out.c_str(), mode), 0);
    struct stat before, after;
    ASSERT_EQ(stat(out.c_str(), &before), 0);
    const RunResult run = run_program(exe, {in, out});
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_EQ(stat(out.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "replaced, not written in place";
    EXPECT_EQ(after.st_uid, other_user);
    EXPECT_EQ(after.st_gid, other_group);
    EXPECT_EQ(after.st_mode & 07777, mode);
    EXPECT_EQ(read_file(out), image);
#endif
}

}  // namespace

}  // namespace quillmorph
