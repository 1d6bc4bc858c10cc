#include "test_support.h"

#include "platform/windows_headers.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace quillmorph {

#if defined(_WIN32)
std::string make_scratch_dir() {
    static unsigned serial = 0;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
        const std::filesystem::path dir =
            base / ("quillmorph-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(++serial));
        std::error_code error;
        if (std::filesystem::create_directory(dir, error)) return dir.string();
        if (error) std::abort();
    }
}
#else
std::string make_scratch_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quillmorph-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) std::abort();
    return std::string(buffer.data());
}
#endif

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path, bool* exists) {
    std::ifstream in(path, std::ios::binary);
    if (exists) *exists = static_cast<bool>(in);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

bool file_exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

std::vector<std::string> list_directory(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string pgm_bytes(int w, int h, const std::vector<unsigned char>& pixels, int maxval) {
    std::string bytes =
        "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n" + std::to_string(maxval) + "\n";
    bytes.append(pixels.begin(), pixels.end());
    return bytes;
}

#if defined(_WIN32)
namespace {

// One argument as the C runtime's command-line parser reads it back:
// quotes around it, and backslashes doubled only before a quote.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < arg.size() && arg[i] == '\\') {
            ++i;
            ++backslashes;
        }
        if (i == arg.size()) {
            out.append(backslashes * 2, '\\');
            break;
        }
        if (arg[i] == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        out.push_back(arg[i]);
    }
    out.push_back('"');
    return out;
}

// Starts program with the given standard handles, which it inherits.
bool start_process(const std::string& program, const std::vector<std::string>& args, HANDLE in,
                   HANDLE out, HANDLE err, PROCESS_INFORMATION* child) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::string command = quoted(program);
    for (const std::string& arg : args) command += " " + quoted(arg);
    std::vector<char> command_line(command.begin(), command.end());
    command_line.push_back('\0');
    *child = PROCESS_INFORMATION{};
    return CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          nullptr, &startup, child) != 0;
}

// Waits for the child to end; its exit status, or -1.
int wait_for_exit(PROCESS_INFORMATION& child) {
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    const int status = GetExitCodeProcess(child.hProcess, &code) ? static_cast<int>(code) : -1;
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return status;
}

// A child's text-mode output, its CR LF line ends given back as LF.
std::string without_carriage_returns(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

}  // namespace

// A child with its standard output on a pipe.  There is no other user to
// drop to; unprivileged is ignored.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      bool unprivileged) {
    (void)unprivileged;
    SECURITY_ATTRIBUTES inherited = {};
    inherited.nLength = sizeof inherited;
    inherited.bInheritHandle = TRUE;
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherited, 0)) std::abort();
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

    PROCESS_INFORMATION child;
    const bool started = start_process(program, args, GetStdHandle(STD_INPUT_HANDLE), write_end,
                                       GetStdHandle(STD_ERROR_HANDLE), &child);
    CloseHandle(write_end);
    RunResult result{-1, ""};
    if (!started) {
        CloseHandle(read_end);
        return result;
    }
    std::string output;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got > 0)
        output.append(chunk, got);
    CloseHandle(read_end);
    result.status = wait_for_exit(child);
    result.output = without_carriage_returns(output);
    return result;
}
// Standard input, output and error are files in a scratch folder: the
// child never waits on a pipe the parent is not serving.
RunResult run_program_piped(const std::string& program, const std::vector<std::string>& args,
                            const std::string& input, bool unprivileged) {
    (void)unprivileged;
    const std::string dir = make_scratch_dir();
    const std::string in_path = dir + "\\stdin", out_path = dir + "\\stdout",
                      err_path = dir + "\\stderr";
    write_file(in_path, input);
    SECURITY_ATTRIBUTES inherited = {};
    inherited.nLength = sizeof inherited;
    inherited.bInheritHandle = TRUE;
    const auto open = [&](const std::string& path, DWORD access, DWORD disposition) {
        return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE in = open(in_path, GENERIC_READ, OPEN_EXISTING);
    HANDLE out = open(out_path, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = open(err_path, GENERIC_WRITE, CREATE_ALWAYS);
    if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE)
        std::abort();

    PROCESS_INFORMATION child;
    const bool started = start_process(program, args, in, out, err, &child);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    RunResult result{-1, ""};
    if (started) result.status = wait_for_exit(child);
    result.output = read_file(out_path);
    result.errors = without_carriage_returns(read_file(err_path));
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return result;
}

std::string cannot_run_unprivileged(const std::string& program) {
    (void)program;
    return "there is no other user to run as on Windows";
}
#else
namespace {

constexpr uid_t nobody = 65534;

// In a child before exec: becomes nobody when asked to and running as root.
bool drop_privileges(bool unprivileged) {
    return !unprivileged || geteuid() != 0 ||
           (setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0);
}

// In a child: becomes program with args, or ends with 127 as a shell does.
[[noreturn]] void exec_program(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      bool unprivileged) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) std::abort();
    pid_t pid = fork();
    if (pid < 0) std::abort();
    if (pid == 0) {
        if (!drop_privileges(unprivileged)) _exit(126);
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        exec_program(program, args);
    }
    close(pipe_fds[1]);
    RunResult result{-1, ""};
    char chunk[4096];
    ssize_t got;
    while ((got = read(pipe_fds[0], chunk, sizeof chunk)) > 0)
        result.output.append(chunk, static_cast<std::size_t>(got));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}
RunResult run_program_piped(const std::string& program, const std::vector<std::string>& args,
                            const std::string& input, bool unprivileged) {
    int in_fds[2], out_fds[2], err_fds[2];
    if (pipe(in_fds) != 0 || pipe(out_fds) != 0 || pipe(err_fds) != 0) std::abort();
    // A program that stops reading early must not kill the test with SIGPIPE.
    const auto previous_pipe_action = std::signal(SIGPIPE, SIG_IGN);
    const pid_t pid = fork();
    if (pid < 0) std::abort();
    if (pid == 0) {
        for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(sig, SIG_DFL);
        if (!drop_privileges(unprivileged)) _exit(126);
        dup2(in_fds[0], STDIN_FILENO);
        dup2(out_fds[1], STDOUT_FILENO);
        dup2(err_fds[1], STDERR_FILENO);
        for (const int fd : {in_fds[0], in_fds[1], out_fds[0], out_fds[1], err_fds[0], err_fds[1]})
            close(fd);
        exec_program(program, args);
    }
    close(in_fds[0]);
    close(out_fds[1]);
    close(err_fds[1]);
    fcntl(in_fds[1], F_SETFL, O_NONBLOCK);

    // Feeds stdin and drains stdout and stderr together, so that no pipe
    // fills up while the other side waits on another.
    RunResult result{-1, ""};
    std::size_t sent = 0;
    int to_child = in_fds[1];
    if (input.empty()) {
        close(to_child);
        to_child = -1;
    }
    int from_child[2] = {out_fds[0], err_fds[0]};
    std::string* sinks[2] = {&result.output, &result.errors};
    while (to_child >= 0 || from_child[0] >= 0 || from_child[1] >= 0) {
        pollfd fds[3] = {
            {to_child, POLLOUT, 0}, {from_child[0], POLLIN, 0}, {from_child[1], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            std::abort();
        }
        if (to_child >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t wrote = write(to_child, input.data() + sent, input.size() - sent);
            if (wrote > 0) sent += static_cast<std::size_t>(wrote);
            if ((wrote < 0 && errno != EAGAIN) || sent == input.size()) {
                close(to_child);
                to_child = -1;
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (from_child[i] < 0 || !(fds[i + 1].revents & (POLLIN | POLLERR | POLLHUP))) continue;
            char chunk[4096];
            const ssize_t got = read(from_child[i], chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            } else {
                close(from_child[i]);
                from_child[i] = -1;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::signal(SIGPIPE, previous_pipe_action);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

std::string cannot_run_unprivileged(const std::string& program) {
    if (geteuid() != 0) return "";  // already an ordinary user
    const RunResult run = run_program(program, {}, true);
    if (run.status == 126) return "cannot switch to the user nobody";
    if (run.status == 127) return "the user nobody cannot reach " + program;
    return "";
}
#endif

unsigned long long fnv1a(const std::string& bytes) {
    unsigned long long hash = 1469598103934665603ULL;
    for (const char byte : bytes) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

void set_environment(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    if (value.empty())
        unsetenv(name);
    else
        setenv(name, value.c_str(), 1);
#endif
}

}  // namespace quillmorph
