#include "test_support.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

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
    std::string bytes = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n" +
                        std::to_string(maxval) + "\n";
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

}  // namespace

// A child with its standard output on a pipe.  There is no other user to
// drop to; unprivileged is ignored.  The child's stdout is in text mode, so
// its line ends arrive as CR LF and are given back as LF.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      bool unprivileged) {
    (void)unprivileged;
    SECURITY_ATTRIBUTES inherited = {};
    inherited.nLength = sizeof inherited;
    inherited.bInheritHandle = TRUE;
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherited, 0)) std::abort();
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string command = quoted(program);
    for (const std::string& arg : args) command += " " + quoted(arg);
    std::vector<char> command_line(command.begin(), command.end());
    command_line.push_back('\0');
    PROCESS_INFORMATION child = {};
    const BOOL started = CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr,
                                        TRUE, 0, nullptr, nullptr, &startup, &child);
    CloseHandle(write_end);
    RunResult result{-1, ""};
    if (!started) {
        CloseHandle(read_end);
        return result;
    }
    std::string output;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
    CloseHandle(read_end);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(child.hProcess, &code)) result.status = static_cast<int>(code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    for (std::size_t i = 0; i < output.size(); ++i)
        if (!(output[i] == '\r' && i + 1 < output.size() && output[i + 1] == '\n')) result.output += output[i];
    return result;
}
#else
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      bool unprivileged) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) std::abort();
    pid_t pid = fork();
    if (pid < 0) std::abort();
    if (pid == 0) {
        constexpr uid_t nobody = 65534;
        if (unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(126);
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
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
#endif

unsigned long long fnv1a(const std::string& bytes) {
    unsigned long long hash = 1469598103934665603ULL;
    for (const char byte : bytes) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 1099511628211ULL;
    }
    return hash;
}
