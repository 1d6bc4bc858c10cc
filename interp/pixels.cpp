#include "interp/pixels.h"

namespace quillmorph {

int sample_from_value(double value, int maxval) {
    // The comparisons come first, so that NaN, negative and huge values
    // never reach the conversion.
    const double shifted = value + 0.5;
    if (!(shifted >= 0.0)) return 0;
    if (shifted >= maxval + 1.0) return maxval;
    return static_cast<int>(shifted);
}

template <typename Sample>
void samples_from_values(const double* values, std::size_t count, int maxval, Sample* samples) {
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<Sample>(sample_from_value(values[i], maxval));
}

template void samples_from_values(const double*, std::size_t, int, unsigned char*);
template void samples_from_values(const double*, std::size_t, int, std::uint16_t*);

}  // namespace quillmorph
