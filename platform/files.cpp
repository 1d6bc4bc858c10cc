// Files, paths and signals.  Three families, chosen by what the build
// detected: POSIX (Linux, macOS, the BSDs), Windows (MinGW-w64), and a
// standard C++17 fallback for anything else.
#include "platform/files.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include "platform/windows_headers.h"

#include <cerrno>
#include <malloc.h>
#elif defined(QUILLMORPH_HAVE_POSIX_FILES)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <filesystem>
#include <system_error>
#endif

#if defined(QUILLMORPH_HAVE_SIGACTION)
#include <signal.h>
#endif

namespace quillmorph {

namespace {

#if defined(_WIN32) || !defined(QUILLMORPH_HAVE_POSIX_FILES)
// How many names platform_create_temp_file tries before giving up, where it
// has to make up names itself (mkstemp tries on its own).
constexpr int temp_name_attempts = 100;

// A name suffix that differs between processes and between calls.
std::string unique_suffix(unsigned long long process, int attempt) {
    static unsigned long long calls = 0;
    const unsigned long long mix = process * 1000003ULL ^
                                   static_cast<unsigned long long>(std::time(nullptr)) * 7919ULL ^
                                   (++calls << 20) ^ static_cast<unsigned long long>(attempt);
    return "." + std::to_string(mix % 1000000000ULL);
}
#endif

#if defined(QUILLMORPH_HAVE_READLINK)
// What a symbolic link holds, or "" when it cannot be read.  The size lstat
// reports is not to be trusted (it is 0 or 64 for /proc's links), so the
// buffer grows until the text fits.
std::string link_target(const char* link) {
    constexpr std::size_t first_size = 256, largest_size = std::size_t{1} << 16;
    for (std::size_t size = first_size; size <= largest_size; size *= 2) {
        std::string target(size, '\0');
        const ssize_t length = readlink(link, &target[0], size);
        if (length < 0) return "";
        if (static_cast<std::size_t>(length) < size) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
    }
    return "";
}
#endif

#if defined(QUILLMORPH_HAVE_FCHOWN)
// Gives a new file the owner and group of the file it replaces.  Only root
// may give a file away; an ordinary owner may still set a group it belongs
// to.  Where neither is allowed the new file stays the runner's.
void keep_owner(int fd, const PathInfo& replaced) {
    if (replaced.owner < 0) return;
    const uid_t owner = static_cast<uid_t>(replaced.owner);
    const gid_t group = static_cast<gid_t>(replaced.group);
    const bool kept =
        fchown(fd, owner, group) == 0 || fchown(fd, static_cast<uid_t>(-1), group) == 0;
    (void)kept;  // not keeping them is no failure: a plain open would not either
}
#elif defined(QUILLMORPH_HAVE_POSIX_FILES)
void keep_owner(int, const PathInfo&) {}
#endif

PathInfo no_file() { return PathInfo{false, false, false, 0, 0, 0, 1, -1, -1}; }

#if defined(_WIN32)
PathInfo info_from(const struct _stat64& status) {
    PathInfo info = no_file();
    info.exists = true;
    info.is_directory = (status.st_mode & _S_IFMT) == _S_IFDIR;
    info.is_regular = (status.st_mode & _S_IFMT) == _S_IFREG;
    return info;  // st_ino is always 0 there: no identity
}
#elif defined(QUILLMORPH_HAVE_POSIX_FILES)
PathInfo info_from(const struct stat& status) {
    PathInfo info = no_file();
    info.exists = true;
    info.is_directory = S_ISDIR(status.st_mode);
    info.is_regular = S_ISREG(status.st_mode);
    info.permissions = static_cast<unsigned>(status.st_mode & 07777);
    info.device = static_cast<unsigned long long>(status.st_dev);
    info.inode = static_cast<unsigned long long>(status.st_ino);
    info.hard_links = static_cast<unsigned long long>(status.st_nlink);
    info.owner = static_cast<long long>(status.st_uid);
    info.group = static_cast<long long>(status.st_gid);
    return info;
}
#endif

}  // namespace

PathInfo platform_path_info(const char* path) {
#if defined(_WIN32)
    struct _stat64 status;
    return _stat64(path, &status) == 0 ? info_from(status) : no_file();
#elif defined(QUILLMORPH_HAVE_POSIX_FILES)
    struct stat status;
    return stat(path, &status) == 0 ? info_from(status) : no_file();
#else
    PathInfo info = no_file();
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) return info;
    info.exists = true;
    info.is_directory = std::filesystem::is_directory(status);
    info.is_regular = std::filesystem::is_regular_file(status);
    info.permissions = static_cast<unsigned>(status.permissions()) & 07777u;
    return info;
#endif
}

PathInfo platform_stream_info(std::FILE* stream) {
#if defined(_WIN32)
    struct _stat64 status;
    return _fstat64(_fileno(stream), &status) == 0 ? info_from(status) : no_file();
#elif defined(QUILLMORPH_HAVE_POSIX_FILES)
    struct stat status;
    return fstat(fileno(stream), &status) == 0 ? info_from(status) : no_file();
#else
    (void)stream;
    return no_file();
#endif
}

bool platform_may_write(const char* path) {
#if defined(_WIN32)
    constexpr int write_permission = 2;  // _access's mode for "may write"
    return _access(path, write_permission) == 0;
#elif defined(QUILLMORPH_HAVE_FACCESSAT)
    // The effective user, as an open would check, not the real one access() uses.
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
#elif defined(QUILLMORPH_HAVE_POSIX_FILES)
    return access(path, W_OK) == 0;
#else
    std::FILE* file = std::fopen(path, "r+b");  // opens without changing the file
    if (file) std::fclose(file);
    return file != nullptr;
#endif
}

std::string platform_directory_of(const std::string& path) {
#if defined(_WIN32)
    const std::size_t slash = path.find_last_of("/\\");
#else
    const std::size_t slash = path.rfind('/');
#endif
    if (slash == std::string::npos) return ".";
    if (slash == 0) return path.substr(0, 1);
    return path.substr(0, slash);
}

std::string platform_temp_directory() {
#if defined(_WIN32)
    char path[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof path, path);
    if (length == 0 || length > MAX_PATH) return ".";
    return platform_directory_of(std::string(path, length));  // without the last backslash
#else
    const char* tmpdir = std::getenv("TMPDIR");
    return tmpdir && *tmpdir ? tmpdir : "/tmp";
#endif
}

std::string platform_resolve_links(const char* path) {
    std::string current = path;
#if defined(QUILLMORPH_HAVE_READLINK)
    // As many links as Linux follows in one path before it reports a loop.
    constexpr int max_links = 40;
    for (int followed = 0; followed <= max_links; ++followed) {
        struct stat status;
        if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
        const std::string target = link_target(current.c_str());
        if (target.empty()) return current;
        current = target[0] == '/' ? target : platform_directory_of(current) + "/" + target;
    }
    return "";
#else
    return current;
#endif
}

bool platform_stream_is_directory(std::FILE* stream) {
    return platform_stream_info(stream).is_directory;
}

long long platform_stream_regular_size(std::FILE* stream) {
#if defined(_WIN32)
    struct _stat64 status;
    if (_fstat64(_fileno(stream), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG)
        return -1;
    return static_cast<long long>(status.st_size);
#elif defined(QUILLMORPH_HAVE_POSIX_FILES)
    struct stat status;
    if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return static_cast<long long>(status.st_size);
#else
    (void)stream;
    return -1;  // unknown: the reader then grows its buffer as bytes arrive
#endif
}

void platform_set_binary_mode(std::FILE* stream) {
#if defined(_WIN32)
    _setmode(_fileno(stream), _O_BINARY);
#else
    (void)stream;
#endif
}

unsigned platform_new_file_permissions() {
    constexpr unsigned default_file_mode = 0666;  // what fopen creates, before the umask
#if defined(QUILLMORPH_HAVE_POSIX_FILES) && !defined(_WIN32)
    const mode_t mask = umask(0);  // the only way to read it is to set it
    umask(mask);
    return default_file_mode & ~static_cast<unsigned>(mask);
#else
    return default_file_mode;
#endif
}

// The temporary file a signal must remove.  A signal handler may read only
// what was fully written before it ran, so the path lives in a fixed buffer
// that is changed only while the cleanup signals are blocked.
namespace {

// Room for any path the system accepts, and the temporary name's suffix.
constexpr std::size_t cleanup_path_size = 8192;
char cleanup_path[cleanup_path_size];

// The signals after which the temporary file is removed.
#if defined(QUILLMORPH_HAVE_SIGACTION)
const int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
#elif defined(_WIN32)
const int cleanup_signals[] = {SIGINT, SIGTERM, SIGBREAK};
#else
const int cleanup_signals[] = {SIGINT, SIGTERM};
#endif

#if defined(QUILLMORPH_HAVE_SIGACTION)
// Holds the cleanup signals back while the path changes.
struct SignalBlock {
    sigset_t previous;
};
SignalBlock block_cleanup_signals() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int sig : cleanup_signals) sigaddset(&blocked, sig);
    SignalBlock block;
    sigprocmask(SIG_BLOCK, &blocked, &block.previous);
    return block;
}
void unblock_cleanup_signals(const SignalBlock& block) {
    sigprocmask(SIG_SETMASK, &block.previous, nullptr);
}
#else
struct SignalBlock {};
SignalBlock block_cleanup_signals() { return SignalBlock{}; }
void unblock_cleanup_signals(const SignalBlock&) {}
#endif

// Only async-signal-safe calls: unlink, then the default action, which the
// handler's own reset (SA_RESETHAND) has restored; the re-raised signal is
// delivered as soon as the handler returns, and ends the process.
extern "C" void remove_temp_and_reraise(int sig) {
#if defined(QUILLMORPH_HAVE_SIGACTION)
    if (cleanup_path[0] != '\0') unlink(cleanup_path);
#else
    if (cleanup_path[0] != '\0') std::remove(cleanup_path);
    std::signal(sig, SIG_DFL);
#endif
    std::raise(sig);
}

// Records the temporary file just created; its name fits (checked before).
void remember_temp_file(const std::string& name) {
    const SignalBlock block = block_cleanup_signals();
    std::memcpy(cleanup_path, name.c_str(), name.size() + 1);
    unblock_cleanup_signals(block);
}

void forget_temp_file() { cleanup_path[0] = '\0'; }

// A short name, so that the temporary file fits wherever the output's own
// name does (an output name of 255 bytes leaves no room for a suffix).
constexpr const char* temp_name_prefix = ".Quillmorph.";

}  // namespace

void platform_install_signal_cleanup() {
#if defined(QUILLMORPH_HAVE_SIGACTION)
    for (const int sig : cleanup_signals) {
        struct sigaction action;
        // A signal ignored by whoever started the process (nohup, a
        // background job) stays ignored.
        if (sigaction(sig, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = remove_temp_and_reraise;
        action.sa_flags = static_cast<int>(SA_RESETHAND);  // an unsigned constant on Linux
        sigemptyset(&action.sa_mask);
        for (const int other : cleanup_signals) sigaddset(&action.sa_mask, other);
        sigaction(sig, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
#else
    for (const int sig : cleanup_signals) {
        const auto previous = std::signal(sig, remove_temp_and_reraise);
        if (previous == SIG_IGN) std::signal(sig, SIG_IGN);
    }
#endif
}

std::FILE* platform_create_temp_file(const std::string& directory, const PathInfo& replaced,
                                     std::string* name) {
    const std::string prefix = directory + "/" + temp_name_prefix;
#if defined(_WIN32)
    for (int attempt = 0; attempt < temp_name_attempts; ++attempt) {
        *name = prefix + unique_suffix(GetCurrentProcessId(), attempt).substr(1);
        if (name->size() >= cleanup_path_size) return nullptr;
        int fd = -1;
        const errno_t error =
            _sopen_s(&fd, name->c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYNO,
                     _S_IREAD | _S_IWRITE);
        if (error == EEXIST) continue;  // another file's name: never to be removed
        if (error != 0) return nullptr;
        remember_temp_file(*name);
        std::FILE* file = _fdopen(fd, "wb");
        if (file) return file;
        _close(fd);
        platform_remove_temp_file(name->c_str());
        return nullptr;
    }
    (void)replaced;  // a new file is writable by its owner; nothing else applies
    return nullptr;
#elif defined(QUILLMORPH_HAVE_POSIX_FILES)
    *name = prefix + "XXXXXX";
    // The name is known only once mkstemp has created the file: the signals
    // wait until it is recorded.
    if (name->size() >= cleanup_path_size) return nullptr;
    const SignalBlock block = block_cleanup_signals();
    const int fd = mkstemp(&(*name)[0]);
    if (fd >= 0) remember_temp_file(*name);
    unblock_cleanup_signals(block);
    if (fd < 0) return nullptr;
    // The owner before the mode: a change of owner clears the set-id bits.
    if (replaced.exists) keep_owner(fd, replaced);
    // mkstemp creates the file for its owner only; give it the mode the
    // output would have had.
    const unsigned permissions =
        replaced.exists ? replaced.permissions : platform_new_file_permissions();
    std::FILE* file =
        fchmod(fd, static_cast<mode_t>(permissions)) == 0 ? fdopen(fd, "wb") : nullptr;
    if (!file) {
        close(fd);
        platform_remove_temp_file(name->c_str());
    }
    return file;
#else
    (void)replaced;
    for (int attempt = 0; attempt < temp_name_attempts; ++attempt) {
        *name = prefix + unique_suffix(0, attempt).substr(1);
        if (name->size() >= cleanup_path_size) return nullptr;
        std::FILE* file = std::fopen(name->c_str(), "wbx");  // "x": fail if it exists
        if (file) {
            remember_temp_file(*name);
            return file;
        }
    }
    return nullptr;
#endif
}

int platform_replace_file(const char* from, const char* to) {
    const SignalBlock block = block_cleanup_signals();
#if defined(_WIN32)
    // rename refuses an existing target there.
    const bool moved = MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
#else
    const bool moved = std::rename(from, to) == 0;
#endif
    if (moved) forget_temp_file();
    unblock_cleanup_signals(block);
    return moved ? 0 : -1;
}

void platform_remove_temp_file(const char* name) {
    const SignalBlock block = block_cleanup_signals();
    std::remove(name);
    forget_temp_file();
    unblock_cleanup_signals(block);
}

}  // namespace quillmorph
