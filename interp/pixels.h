// The last step of the upscaling: grid values become 8-bit pixels.
#ifndef QUILLMORPH_INTERP_PIXELS_H
#define QUILLMORPH_INTERP_PIXELS_H

#include <cstddef>

namespace quillmorph {

// value + 0.5, truncated and clamped to 0..255 (rounding half up); NaN
// becomes 0.
unsigned char pixel_from_value(double value);

// The same for count values.
void pixels_from_values(const double* values, std::size_t count, unsigned char* pixels);

}  // namespace quillmorph

#endif
