// Every call into the operating system, behind a few plain functions.
//
// The engine and the driver are standard C++; what only an operating system
// can answer (how many processors, how much processor time, what a path is,
// how to put a finished file in place) is asked here.  Each function has a
// Linux/POSIX version, a Windows version, and a fallback that any C++17
// compiler builds, chosen by what the build detected (QUILLMORPH_HAVE_*).
#ifndef QUILLMORPH_PLATFORM_PLATFORM_H
#define QUILLMORPH_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdio>
#include <string>

// Processors this process may run on: on Linux its affinity mask, lowered to
// its cgroup CPU quota rounded up (a container given 1.5 processors gets 2
// threads); elsewhere std::thread::hardware_concurrency.  At least 1.
int platform_processor_count();

// The processors a cgroup v2 "cpu.max" text ("max 100000", "150000 100000")
// allows, rounded up, or 0 when it sets no limit or cannot be read.
int cpus_from_cgroup_v2(const char* cpu_max);
// The same for cgroup v1's cpu.cfs_quota_us and cpu.cfs_period_us (a quota
// of -1 sets no limit).
int cpus_from_cgroup_v1(long long quota_us, long long period_us);

// Processor time used by the whole process so far, in seconds.
double platform_processor_seconds();

// bytes of memory aligned to alignment (a power of two, at least
// sizeof(void*)), or nullptr; released with platform_aligned_free only.
void* platform_aligned_alloc(std::size_t alignment, std::size_t bytes);
void platform_aligned_free(void* memory);
// Asks for huge pages behind the range (Linux); a hint that may be ignored.
void platform_advise_huge_pages(void* memory, std::size_t bytes);

struct PathInfo {
    bool exists;
    bool is_directory;
    bool is_regular;        // a plain file, which a rename can replace
    unsigned permissions;   // POSIX mode bits 07777; 0 where there are none
};
PathInfo platform_path_info(const char* path);
// Whether this process may write the existing file at path (by its
// effective user, as an open for writing would be judged).
bool platform_may_write(const char* path);

// Whether an open stream is a directory (fopen opens those on POSIX).
bool platform_stream_is_directory(std::FILE* stream);
// The size of an open stream's file when it is a regular file, or -1.
long long platform_stream_regular_size(std::FILE* stream);

// The permissions a newly created file gets (0666 less the umask on POSIX).
unsigned platform_new_file_permissions();
// Creates a new file whose name is *name followed by a unique suffix, with
// the given permissions, and opens it for binary writing; *name becomes the
// full name.  Returns nullptr when no file could be created.
std::FILE* platform_create_temp_file(std::string* name, unsigned permissions);
// Moves the file from onto to, replacing a file already there, in one step
// where the system allows.  Returns 0 on success.
int platform_replace_file(const char* from, const char* to);

#endif
