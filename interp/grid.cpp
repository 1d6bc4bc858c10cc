#include "interp/grid.h"

#include <climits>
#include <cstdint>

namespace {

// Bytes per LR pixel of the largest buffer a run allocates: the axial block
// store keeps 25 doubles for each of the 4 HR cells of an LR pixel.
constexpr std::size_t max_bytes_per_lr_pixel = 4 * 25 * sizeof(double);

}  // namespace

int image_size_supported(int w, int h) {
    if (w < min_image_side || h < min_image_side) return 0;
    if (w > INT_MAX / 2 || h > INT_MAX / 2) return 0;  // 2w and 2h must fit an int
    const std::size_t pixels_limit = SIZE_MAX / max_bytes_per_lr_pixel;
    if (static_cast<std::size_t>(w) > pixels_limit / static_cast<std::size_t>(h)) return 0;
    return 1;
}

std::size_t lr_pixel_count(int w, int h) {
    return static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
}

std::size_t hr_cell_count(int w, int h) {
    return 4 * lr_pixel_count(w, h);
}
