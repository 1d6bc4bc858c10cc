// How many processors a run may use, and how much processor time it took.
#ifndef QUILLMORPH_PLATFORM_PROCESSORS_H
#define QUILLMORPH_PLATFORM_PROCESSORS_H

namespace quillmorph {

// Processors this process may run on: on Linux its affinity mask (read in
// a set as large as the kernel's, or the hardware's count where it cannot be
// read at all), lowered to its cgroup CPU quota rounded up (a container
// given 1.5 processors gets 2 threads); elsewhere
// std::thread::hardware_concurrency.  At least 1.
int platform_processor_count();

// The processors a cgroup v2 "cpu.max" text ("max 100000", "150000 100000")
// allows, rounded up, or 0 when it sets no limit or cannot be read.
int cpus_from_cgroup_v2(const char* cpu_max);
// The same for cgroup v1's cpu.cfs_quota_us and cpu.cfs_period_us (a quota
// of -1 sets no limit).
int cpus_from_cgroup_v1(long long quota_us, long long period_us);

// Processor time used by the whole process so far, in seconds.
double platform_processor_seconds();

}  // namespace quillmorph

#endif
