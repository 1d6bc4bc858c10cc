// The operating-system calls.  Three families, chosen by what the build
// detected: POSIX (Linux, macOS, the BSDs), Windows (MinGW-w64), and a
// standard C++17 fallback for anything else.  Linux-only refinements
// (affinity, cgroup quota, huge pages) sit inside the POSIX family behind
// their own feature macros.
#include "platform/platform.h"

#include <climits>
#include <cstdlib>
#include <ctime>
#include <thread>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

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

#if defined(QUILLMORPH_HAVE_SCHED_GETAFFINITY)
#include <sched.h>
#endif
#if defined(QUILLMORPH_HAVE_MADV_HUGEPAGE)
#include <sys/mman.h>
#endif

namespace {

#if defined(_WIN32) || !defined(QUILLMORPH_HAVE_POSIX_FILES)
// How many names platform_create_temp_file tries before giving up, where it
// has to make up names itself (mkstemp tries on its own).
constexpr int temp_name_attempts = 100;

// A name suffix that differs between processes and between calls.
std::string unique_suffix(unsigned long long process, int attempt) {
    static unsigned long long calls = 0;
    const unsigned long long mix =
        process * 1000003ULL ^ static_cast<unsigned long long>(std::time(nullptr)) * 7919ULL ^
        (++calls << 20) ^ static_cast<unsigned long long>(attempt);
    return "." + std::to_string(mix % 1000000000ULL);
}
#endif

#if defined(__linux__)
// The first line of a small system file, or "" when it cannot be read.
std::string first_line(const char* path) {
    std::FILE* file = std::fopen(path, "r");
    if (!file) return "";
    char line[128] = {};
    const bool ok = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    return ok ? std::string(line) : std::string();
}

long long number_in(const char* path) {
    const std::string text = first_line(path);
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    return end == text.c_str() ? 0 : value;
}

// The processors the cgroup CPU quota allows, or 0 for no quota.  Inside a
// container the process sees its own cgroup at the root of the hierarchy.
int cgroup_cpu_limit() {
    const std::string v2 = first_line("/sys/fs/cgroup/cpu.max");
    if (!v2.empty()) return cpus_from_cgroup_v2(v2.c_str());
    return cpus_from_cgroup_v1(number_in("/sys/fs/cgroup/cpu/cpu.cfs_quota_us"),
                               number_in("/sys/fs/cgroup/cpu/cpu.cfs_period_us"));
}
#endif

int processors_allowed() {
#if defined(QUILLMORPH_HAVE_SCHED_GETAFFINITY)
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
    return CPU_COUNT(&cpus);
#else
    return static_cast<int>(std::thread::hardware_concurrency());
#endif
}

}  // namespace

int cpus_from_cgroup_v1(long long quota_us, long long period_us) {
    if (quota_us <= 0 || period_us <= 0) return 0;
    const long long cpus = quota_us / period_us + (quota_us % period_us != 0 ? 1 : 0);
    return cpus < INT_MAX ? static_cast<int>(cpus) : INT_MAX;
}

int cpus_from_cgroup_v2(const char* cpu_max) {
    // "$MAX $PERIOD", where $MAX is "max" when there is no limit.
    char* end = nullptr;
    const long long quota = std::strtoll(cpu_max, &end, 10);
    if (end == cpu_max || *end != ' ') return 0;
    const char* period_text = end + 1;
    const long long period = std::strtoll(period_text, &end, 10);
    if (end == period_text) return 0;
    return cpus_from_cgroup_v1(quota, period);
}

int platform_processor_count() {
    int count = processors_allowed();
#if defined(__linux__)
    const int limit = cgroup_cpu_limit();
    if (limit > 0 && limit < count) count = limit;
#endif
    return count < 1 ? 1 : count;
}

double platform_processor_seconds() {
#if defined(_WIN32)
    // clock() is wall time there; the process's user and kernel times come
    // in units of 100 ns.
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    constexpr double seconds_per_tick = 1e-7;
    return static_cast<double>(ticks(kernel) + ticks(user)) * seconds_per_tick;
#else
    return static_cast<double>(std::clock()) / static_cast<double>(CLOCKS_PER_SEC);
#endif
}

void* platform_aligned_alloc(std::size_t alignment, std::size_t bytes) {
    if (bytes == 0) bytes = 1;
#if defined(_WIN32)
    return _aligned_malloc(bytes, alignment);
#elif defined(QUILLMORPH_HAVE_POSIX_MEMALIGN)
    void* memory = nullptr;
    return posix_memalign(&memory, alignment, bytes) == 0 ? memory : nullptr;
#else
    // std::aligned_alloc wants a size that is a multiple of the alignment.
    const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    if (rounded < bytes) return nullptr;
    return std::aligned_alloc(alignment, rounded);
#endif
}

void platform_aligned_free(void* memory) {
#if defined(_WIN32)
    _aligned_free(memory);
#else
    std::free(memory);
#endif
}

void platform_advise_huge_pages(void* memory, std::size_t bytes) {
#if defined(QUILLMORPH_HAVE_MADV_HUGEPAGE)
    madvise(memory, bytes, MADV_HUGEPAGE);  // a hint; failure is harmless
#else
    (void)memory;
    (void)bytes;
#endif
}

PathInfo platform_path_info(const char* path) {
    PathInfo info{false, false, false, 0};
#if defined(_WIN32)
    struct _stat64 status;
    if (_stat64(path, &status) != 0) return info;
    info.is_directory = (status.st_mode & _S_IFMT) == _S_IFDIR;
    info.is_regular = (status.st_mode & _S_IFMT) == _S_IFREG;
#elif defined(QUILLMORPH_HAVE_POSIX_FILES)
    struct stat status;
    if (stat(path, &status) != 0) return info;
    info.is_directory = S_ISDIR(status.st_mode);
    info.is_regular = S_ISREG(status.st_mode);
    info.permissions = static_cast<unsigned>(status.st_mode & 07777);
#else
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) return info;
    info.is_directory = std::filesystem::is_directory(status);
    info.is_regular = std::filesystem::is_regular_file(status);
    info.permissions = static_cast<unsigned>(status.permissions()) & 07777u;
#endif
    info.exists = true;
    return info;
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

bool platform_stream_is_directory(std::FILE* stream) {
#if defined(_WIN32)
    struct _stat64 status;
    return _fstat64(_fileno(stream), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFDIR;
#elif defined(QUILLMORPH_HAVE_POSIX_FILES)
    struct stat status;
    return fstat(fileno(stream), &status) == 0 && S_ISDIR(status.st_mode);
#else
    (void)stream;
    return false;  // reading it then fails as a header error
#endif
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

std::FILE* platform_create_temp_file(std::string* name, unsigned permissions) {
#if defined(_WIN32)
    (void)permissions;  // a new file is writable by its owner; nothing else applies
    const std::string prefix = *name;
    for (int attempt = 0; attempt < temp_name_attempts; ++attempt) {
        *name = prefix + unique_suffix(GetCurrentProcessId(), attempt);
        int fd = -1;
        const errno_t error = _sopen_s(&fd, name->c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                                       _SH_DENYNO, _S_IREAD | _S_IWRITE);
        if (error == 0) {
            std::FILE* file = _fdopen(fd, "wb");
            if (file) return file;
            _close(fd);
            std::remove(name->c_str());
            return nullptr;
        }
        if (error != EEXIST) return nullptr;
    }
    return nullptr;
#elif defined(QUILLMORPH_HAVE_POSIX_FILES)
    *name += ".XXXXXX";
    const int fd = mkstemp(&(*name)[0]);
    if (fd < 0) return nullptr;
    // mkstemp creates the file for its owner only; give it the mode the
    // output would have had.
    std::FILE* file =
        fchmod(fd, static_cast<mode_t>(permissions)) == 0 ? fdopen(fd, "wb") : nullptr;
    if (!file) {
        close(fd);
        unlink(name->c_str());
    }
    return file;
#else
    (void)permissions;
    const std::string prefix = *name;
    for (int attempt = 0; attempt < temp_name_attempts; ++attempt) {
        *name = prefix + unique_suffix(0, attempt);
        std::FILE* file = std::fopen(name->c_str(), "wbx");  // "x": fail if it exists
        if (file) return file;
    }
    return nullptr;
#endif
}

int platform_replace_file(const char* from, const char* to) {
#if defined(_WIN32)
    // rename refuses an existing target there.
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
#else
    return std::rename(from, to) == 0 ? 0 : -1;
#endif
}
