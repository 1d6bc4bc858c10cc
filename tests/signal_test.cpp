// Signals and limits during a run, against the real executable: the run
// ends as the signal says, and leaves nothing partial behind.
//
// The temporary file exists from before the refinement until the rename.
// To hit that window every time, the test watches for the file, stops the
// program (SIGSTOP cannot be caught), checks that the file is still there,
// and only then sends the signal and lets the program go on.  A run that
// got past the window before it was stopped is detected, not misjudged, and
// tried again on a larger image.
#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "test_programs.h"
#include "test_support.h"

namespace quillmorph {

namespace {

const std::string exe = QUILLMORPH_EXE;
const std::string make_chart = MAKE_CHART_EXE;

#if !defined(_WIN32)
std::string started(const std::string& in) { return "Start processing file: " + in + ".\n"; }

// The directory's entries with the contents of its regular files.
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> entries;
    for (const std::string& name : list_directory(dir)) entries[name] = read_file(dir + "/" + name);
    return entries;
}

std::string temp_file_in(const std::string& dir) {
    for (const std::string& name : list_directory(dir))
        if (name[0] == '.') return name;
    return "";
}

// A started program, its messages on a pipe that the test reads at the end
// (its stdout, or its stderr when stdout_fd takes the image), with the
// cleanup signals at their defaults as a shell would leave them.
struct Child {
    pid_t pid;
    int stdout_fd;
};

Child start(const std::vector<std::string>& args, int stdout_fd = -1, int ignored_signal = 0) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    const pid_t pid = fork();
    if (pid < 0) std::abort();
    if (pid == 0) {
        for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(sig, SIG_DFL);
        if (ignored_signal != 0) signal(ignored_signal, SIG_IGN);
        dup2(stdout_fd >= 0 ? stdout_fd : fds[1], STDOUT_FILENO);
        if (stdout_fd >= 0) dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    return Child{pid, fds[0]};
}

// Waits for the child; returns its wait status and what it printed.
int finish(const Child& child, std::string* printed) {
    char chunk[4096];
    ssize_t got;
    while ((got = read(child.stdout_fd, chunk, sizeof chunk)) > 0)
        printed->append(chunk, static_cast<std::size_t>(got));
    close(child.stdout_fd);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return status;
}

// How long a run may take to show its temporary file: far beyond any
// machine's need, so that the bound only stops a hung test.
constexpr auto patience = std::chrono::seconds(120);
constexpr auto poll_interval = std::chrono::microseconds(200);

enum class Caught { in_window, too_late };

// Stops the child while its temporary file exists, or reports that it got
// past that point first.  The child is left stopped only when in_window.
Caught stop_in_window(const Child& child, const std::string& dir) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (temp_file_in(dir).empty()) {
        int status = 0;
        if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
            ADD_FAILURE() << "the run ended before its temporary file was seen";
            return Caught::too_late;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child.pid, SIGKILL);
            ADD_FAILURE() << "no temporary file appeared within the time allowed";
            return Caught::too_late;
        }
        std::this_thread::sleep_for(poll_interval);
    }
    kill(child.pid, SIGSTOP);
    int status = 0;
    waitpid(child.pid, &status, WUNTRACED);
    if (WIFSTOPPED(status) && !temp_file_in(dir).empty()) return Caught::in_window;
    if (WIFSTOPPED(status)) kill(child.pid, SIGCONT);
    return Caught::too_late;
}
#endif

TEST(Signals, RemoveTheTemporaryFileAndEndTheRunAsTheSignalSays) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs POSIX signals";
#else
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (std::size_t i = 0; i < sizeof signals / sizeof signals[0]; ++i) {
        const int sig = signals[i];
        SCOPED_TRACE("row " + std::to_string(i) + ": " + strsignal(sig));
        // Larger charts make a longer window, should a loaded machine ever
        // let the run past it before it is stopped.
        bool caught = false;
        for (const int side : {384, 768, 1536}) {
            ASSERT_EQ(run_program(make_chart, {in, std::to_string(side)}).status, 0);
            write_file(out, "precious");
            const std::map<std::string, std::string> before = snapshot(dir);
            const Child child = start({in, out});
            if (stop_in_window(child, dir) == Caught::too_late) {
                std::string ignored;
                finish(child, &ignored);
                continue;
            }
            caught = true;
            kill(child.pid, sig);
            kill(child.pid, SIGCONT);
            std::string printed;
            const int status = finish(child, &printed);
            ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
            EXPECT_EQ(WTERMSIG(status), sig);
            // Nothing left, nothing changed; and the start line was out
            // before the run was killed, as a log would need it.
            EXPECT_EQ(snapshot(dir), before);
            EXPECT_EQ(printed, started(in));
            break;
        }
        EXPECT_TRUE(caught) << "every run got past its temporary file before it was stopped";
    }
#endif
}

TEST(Signals, ClosedPipeEndsTheRunBySigpipe) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs POSIX signals";
#else
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm";
    ASSERT_EQ(run_program(make_chart, {in, "64"}).status, 0);
    int image_pipe[2];
    ASSERT_EQ(pipe(image_pipe), 0);
    close(image_pipe[0]);  // nobody will read the image
    const Child child = start({in, "-"}, image_pipe[1]);
    close(image_pipe[1]);
    std::string printed;
    const int status = finish(child, &printed);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGPIPE);
    EXPECT_EQ(printed, started(in));
    EXPECT_EQ(list_directory(dir), std::vector<std::string>{"in.pgm"});
#endif
}

// nohup and background jobs start programs with signals ignored; the program
// must not take them back.
TEST(Signals, SignalsIgnoredAtStartStayIgnored) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs POSIX signals";
#else
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";

    // SIGHUP in the middle of the run: the run goes on and succeeds.
    bool caught = false;
    for (const int side : {384, 768, 1536}) {
        ASSERT_EQ(run_program(make_chart, {in, std::to_string(side)}).status, 0);
        std::remove(out.c_str());
        const Child child = start({in, out}, -1, SIGHUP);
        std::string printed;
        if (stop_in_window(child, dir) == Caught::too_late) {
            finish(child, &printed);
            continue;
        }
        caught = true;
        kill(child.pid, SIGHUP);
        kill(child.pid, SIGCONT);
        const int status = finish(child, &printed);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << printed;
        const std::string hr_side = std::to_string(2 * side);
        const std::string header = "P5\n " + hr_side + " " + hr_side + "\n255\n";
        EXPECT_EQ(read_file(out).size(), header.size() + 4u * to_size(side * side));
        break;
    }
    EXPECT_TRUE(caught) << "every run got past its temporary file before it was stopped";

    // SIGPIPE ignored: a reader that went away is a write error.
    int image_pipe[2];
    ASSERT_EQ(pipe(image_pipe), 0);
    close(image_pipe[0]);
    const Child child = start({in, "-"}, image_pipe[1], SIGPIPE);
    close(image_pipe[1]);
    std::string printed;
    const int status = finish(child, &printed);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(printed, started(in) + "Cannot write file: -.\n");
#endif
}

TEST(Signals, FileSizeLimitIsAWriteError) {
#if defined(_WIN32)
    GTEST_SKIP() << "needs POSIX file size limits";
#else
    if (!file_exists("/bin/sh")) GTEST_SKIP() << "needs a POSIX shell to set the limit";
    const std::string dir = make_scratch_dir();
    const std::string in = dir + "/in.pgm", out = dir + "/out.pgm";
    ASSERT_EQ(run_program(make_chart, {in, "64"}).status, 0);  // a 16 KB output
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "with an existing output" : "with no output yet");
        if (existing) write_file(out, "precious");
        const std::map<std::string, std::string> before = snapshot(dir);
        // 8 blocks: 4 KB or 8 KB, as the shell counts them.
        const RunResult run = run_program(
            "/bin/sh", {"-c", "ulimit -f 8 && exec \"$0\" \"$1\" \"$2\"", exe, in, out});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, started(in) + "Cannot write file: " + out + ".\n");
        EXPECT_EQ(snapshot(dir), before);
    }
#endif
}

}  // namespace

}  // namespace quillmorph
