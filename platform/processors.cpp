// Processor counts and processor time: POSIX with Linux's affinity mask and
// cgroup quota where the build found them, Windows, and a standard C++17
// fallback.
#include "platform/processors.h"

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "platform/windows_headers.h"

#if defined(QUILLMORPH_HAVE_SCHED_GETAFFINITY)
#include <sched.h>
#endif

namespace quillmorph {

namespace {

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

int hardware_processors() { return static_cast<int>(std::thread::hardware_concurrency()); }

#if defined(QUILLMORPH_HAVE_SCHED_GETAFFINITY)
// The affinity mask in a set of `processors` processors, made for the
// call: a fixed cpu_set_t holds 1024, and the call fails (EINVAL) on a
// machine whose kernel counts more.  Returns 0 when it cannot be read.
int processors_in_mask(int processors) {
    cpu_set_t* cpus = CPU_ALLOC(static_cast<std::size_t>(processors));
    if (!cpus) return 0;
    const std::size_t bytes = CPU_ALLOC_SIZE(static_cast<std::size_t>(processors));
    const int count = sched_getaffinity(0, bytes, cpus) == 0 ? CPU_COUNT_S(bytes, cpus) : 0;
    CPU_FREE(cpus);
    return count;
}
#endif

// The affinity mask's processors, or the hardware's when the mask cannot be
// read in a set of any size the kernel takes.
int processors_allowed() {
#if defined(QUILLMORPH_HAVE_SCHED_GETAFFINITY)
    // Sets twice as large each time, from the fixed set's size, up to far
    // beyond any machine's processors.
    constexpr int fixed_set = CPU_SETSIZE;
    constexpr int largest_set = 1 << 20;
    for (int processors = fixed_set; processors <= largest_set; processors *= 2) {
        const int count = processors_in_mask(processors);
        if (count > 0) return count;
    }
#endif
    return hardware_processors();
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

}  // namespace quillmorph
