// The platform layer: what each operating system must give the same way.
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/memory.h"
#include "platform/processors.h"
#include "test_support.h"

namespace quillmorph {

namespace {

TEST(CgroupQuota, ProcessorsAreTheQuotaRoundedUp) {
    struct Case {
        const char* cpu_max;
        int cpus;
    };
    const Case cases[] = {
        {"max 100000\n", 0},
        {"100000 100000\n", 1},
        {"150000 100000\n", 2},
        {"50000 100000\n", 1},
        {"400000 100000", 4},
        {"1 100000\n", 1},
        {"", 0},
        {"garbage\n", 0},
        {"200000\n", 0},
        {"-1 100000\n", 0},
        {"100000 0\n", 0},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(cpus_from_cgroup_v2(cases[i].cpu_max), cases[i].cpus) << "row " << i;
    EXPECT_EQ(cpus_from_cgroup_v1(-1, 100000), 0);
    EXPECT_EQ(cpus_from_cgroup_v1(250000, 100000), 3);
    EXPECT_EQ(cpus_from_cgroup_v1(100000, 100000), 1);
    EXPECT_EQ(cpus_from_cgroup_v1(1000000000000000LL, 1), 2147483647);
}

TEST(PlatformProcessors, AtLeastOne) { EXPECT_GE(platform_processor_count(), 1); }

TEST(PlatformMemory, AlignedAsAskedAndWritable) {
    for (std::size_t alignment : {std::size_t{64}, std::size_t{4096}, std::size_t{2} << 20}) {
        for (std::size_t bytes :
             {std::size_t{0}, std::size_t{1}, std::size_t{100}, std::size_t{3} << 20}) {
            unsigned char* memory =
                static_cast<unsigned char*>(platform_aligned_alloc(alignment, bytes));
            ASSERT_NE(memory, nullptr) << alignment << " " << bytes;
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % alignment, 0u)
                << alignment << " " << bytes;
            for (std::size_t i = 0; i < bytes; ++i) memory[i] = static_cast<unsigned char>(i);
            platform_advise_huge_pages(memory, bytes);
            platform_aligned_free(memory);
        }
    }
}

TEST(PlatformTime, ProcessorTimeGrowsWithWork) {
    const double start = platform_processor_seconds();
    volatile double sink = 0.0;
    double now = start;
    // Busy until the clock moves: a wall clock would move while sleeping too,
    // but a processor clock that never moves is a fault.
    for (long long i = 0; now == start && i < 4000000000LL; ++i) {
        sink = sink + 1.0;
        if (i % 1000000 == 0) now = platform_processor_seconds();
    }
    EXPECT_GT(now, start);
}

TEST(PlatformFiles, TempFileIsNewShortAndReplacesAnExistingFile) {
    const std::string dir = make_scratch_dir();
    const std::string target = dir + "/out.pgm";
    write_file(target, "old contents");
    const PathInfo none = platform_path_info((dir + "/none").c_str());

    std::string first, second;
    std::FILE* a = platform_create_temp_file(dir, none, &first);
    std::FILE* b = platform_create_temp_file(dir, none, &second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(first, second);
    // In the directory asked for, under a name short enough for any file
    // system that takes the output's own name.
    for (const std::string& name : {first, second}) {
        EXPECT_EQ(name.compare(0, dir.size() + 1, dir + "/"), 0) << name;
        EXPECT_LE(name.size() - dir.size() - 1, 32u) << name;
    }
    EXPECT_GE(std::fputs("new contents", a), 0);
    std::fclose(a);
    std::fclose(b);
    platform_remove_temp_file(second.c_str());
    EXPECT_FALSE(file_exists(second));

    // The existing target must be replaced, which a plain rename refuses on
    // some systems.
    ASSERT_EQ(platform_replace_file(first.c_str(), target.c_str()), 0);
    EXPECT_EQ(read_file(target), "new contents");
    EXPECT_FALSE(file_exists(first));
    std::remove(target.c_str());
    std::remove(dir.c_str());
}

TEST(PlatformFiles, DirectoryOfAPath) {
    struct Case {
        const char* path;
        const char* directory;
    };
    const Case cases[] = {
        {"out.pgm", "."},         {"/out.pgm", "/"},  {"a/out.pgm", "a"},
        {"/a/b/out.pgm", "/a/b"}, {"./out.pgm", "."}, {"../x/out.pgm", "../x"},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(platform_directory_of(cases[i].path), cases[i].directory) << "row " << i;
}

TEST(PlatformFiles, PathInfoTellsFilesFromDirectories) {
    const std::string dir = make_scratch_dir();
    const std::string file = dir + "/a.pgm";
    write_file(file, "x");

    const PathInfo of_dir = platform_path_info(dir.c_str());
    EXPECT_TRUE(of_dir.exists);
    EXPECT_TRUE(of_dir.is_directory);
    EXPECT_FALSE(of_dir.is_regular);

    const PathInfo of_file = platform_path_info(file.c_str());
    EXPECT_TRUE(of_file.exists);
    EXPECT_FALSE(of_file.is_directory);
    EXPECT_TRUE(of_file.is_regular);
    EXPECT_TRUE(platform_may_write(file.c_str()));

    const PathInfo missing = platform_path_info((dir + "/none").c_str());
    EXPECT_FALSE(missing.exists);

    std::FILE* stream = std::fopen(file.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(platform_stream_regular_size(stream), 1);
    EXPECT_FALSE(platform_stream_is_directory(stream));
    std::fclose(stream);
    std::remove(file.c_str());
    std::remove(dir.c_str());
}

TEST(PlatformFiles, ResolveLinksFollowsChainsToTheirEnd) {
#if defined(_WIN32)
    GTEST_SKIP() << "symbolic links need privileges on Windows";
#else
    const std::string dir = make_scratch_dir();
    write_file(dir + "/file", "x");
    struct Link {
        const char* name;
        std::string text;
    };
    const Link links[] = {
        {"relative", "file"},   {"absolute", dir + "/file"}, {"chain", "relative"},
        {"dangling", "absent"}, {"loop-a", "loop-b"},        {"loop-b", "loop-a"},
    };
    for (const Link& link : links)
        ASSERT_EQ(symlink(link.text.c_str(), (dir + "/" + link.name).c_str()), 0);
    struct Case {
        std::string path;
        std::string resolved;
    };
    const Case cases[] = {
        {dir + "/file", dir + "/file"},
        {dir + "/relative", dir + "/file"},
        {dir + "/absolute", dir + "/file"},
        {dir + "/chain", dir + "/file"},
        {dir + "/dangling", dir + "/absent"},
        {dir + "/missing", dir + "/missing"},
        {dir + "/loop-a", ""},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(platform_resolve_links(cases[i].path.c_str()), cases[i].resolved) << "row " << i;
#endif
}

}  // namespace

}  // namespace quillmorph
