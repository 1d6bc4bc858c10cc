// Which copy of the vector kernels the bit-for-bit tests run.  The suite
// runs once per copy the build made, QUILLMORPH_CPU naming it
// (tests/CMakeLists.txt); a copy this processor cannot run has nothing to
// test, and the run reports itself skipped.  The emulated runs state the
// automatic choice they expect in QUILLMORPH_EXPECT_TARGET.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "quillmorph.h"

namespace quillmorph {

namespace {

// ctest's SKIP_RETURN_CODE for these runs.
constexpr int skipped = 77;

const bool copy_runs_here = [] {
    const char* setting = std::getenv("QUILLMORPH_CPU");
    if (setting && *setting && !qm_vector_target()) {
        std::printf("skipped: this processor cannot run the %s copy\n", setting);
        std::exit(skipped);
    }
    return true;
}();

TEST(VectorTarget, IsTheCopyAskedFor) {
    ASSERT_TRUE(copy_runs_here);
    const char* name = qm_vector_target();
    ASSERT_NE(name, nullptr);
    const char* setting = std::getenv("QUILLMORPH_CPU");
    if (setting && *setting) {
        EXPECT_STREQ(name, setting);
    }
    const char* expected = std::getenv("QUILLMORPH_EXPECT_TARGET");
    if (expected) {
        EXPECT_STREQ(name, expected) << "the automatic choice";
    }
    std::printf("vector code: %s\n", name);
}

}  // namespace

}  // namespace quillmorph
