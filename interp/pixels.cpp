#include "interp/pixels.h"

namespace quillmorph {

namespace {

constexpr int max_pixel = 255;

}  // namespace

unsigned char pixel_from_value(double value) {
    // The comparisons come first, so that NaN, negative and huge values
    // never reach the conversion.
    const double shifted = value + 0.5;
    if (!(shifted >= 0.0)) return 0;
    if (shifted >= max_pixel + 1.0) return max_pixel;
    return static_cast<unsigned char>(static_cast<int>(shifted));
}

void pixels_from_values(const double* values, std::size_t count, unsigned char* pixels) {
    for (std::size_t i = 0; i < count; ++i) pixels[i] = pixel_from_value(values[i]);
}

}  // namespace quillmorph
