// Grid values become samples: rounding half up, clamped to 0..maxval.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "interp/pixels.h"

namespace quillmorph {

namespace {

TEST(SampleFromValue, RoundsHalfUpAndClampsToTheMaxval) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        int maxval;
        int sample;
    } cases[] = {{254.5, 255, 255},
                 {254.49, 255, 254},
                 {-0.7, 255, 0},
                 {300.2, 255, 255},
                 {0.0, 255, 0},
                 {0.5, 255, 1},
                 {-0.5, 255, 0},
                 {255.0, 255, 255},
                 {255.49, 255, 255},
                 {127.5, 255, 128},
                 {nan, 255, 0},
                 {inf, 255, 255},
                 {-inf, 255, 0},
                 {1e300, 255, 255},
                 {3e9, 255, 255},
                 {-3e9, 255, 0},
                 {4094.5, 4095, 4095},
                 {4094.49, 4095, 4094},
                 {5000.0, 4095, 4095},
                 {0.49, 1, 0},
                 {0.5, 1, 1},
                 {7.0, 1, 1},
                 {65534.5, 65535, 65535},
                 {65534.4, 65535, 65534},
                 {1e9, 65535, 65535},
                 {nan, 65535, 0},
                 {-inf, 65535, 0}};
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(sample_from_value(cases[i].value, cases[i].maxval), cases[i].sample)
            << "case " << i;
}

TEST(SamplesFromValues, FillEitherWidthOfSample) {
    const double values[4] = {-1.0, 254.6, 300.0, 70000.0};
    unsigned char bytes[4];
    std::uint16_t words[4];
    samples_from_values(values, 4, max_8bit_sample, bytes);
    samples_from_values(values, 4, max_16bit_sample, words);
    EXPECT_EQ(bytes[1], 255);
    EXPECT_EQ(bytes[2], 255);
    EXPECT_EQ(words[1], 255);
    EXPECT_EQ(words[2], 300);
    EXPECT_EQ(words[3], 65535);
    EXPECT_EQ(bytes[0] + words[0], 0);
}

}  // namespace

}  // namespace quillmorph
