// The last step of the upscaling: grid values become samples.
#ifndef QUILLMORPH_INTERP_PIXELS_H
#define QUILLMORPH_INTERP_PIXELS_H

#include <cstddef>
#include <cstdint>

namespace quillmorph {

// The largest maxval each width of sample holds.
constexpr int max_8bit_sample = 255;
constexpr int max_16bit_sample = 65535;

// value + 0.5, truncated and clamped to 0..maxval (rounding half up); NaN
// becomes 0.
int sample_from_value(double value, int maxval);

// The same for count values; Sample is unsigned char or std::uint16_t, and
// maxval at most what it holds.
template <typename Sample>
void samples_from_values(const double* values, std::size_t count, int maxval, Sample* samples);

extern template void samples_from_values(const double*, std::size_t, int, unsigned char*);
extern template void samples_from_values(const double*, std::size_t, int, std::uint16_t*);

}  // namespace quillmorph

#endif
