// A rectangle of the output from a window of the input.
//
// The window the region needs (its LR footprint widened by the halo, clipped
// to the image) is upscaled as if it were the whole image, and the region is
// cut from the result.  That gives the whole image's bytes: the two runs
// differ only where the window's edges are not the image's, and there every
// difference in the rules (the upsampling's border copies, the margins of
// targets and fused areas) falls on cells whose whole-image values depend on
// LR pixels outside the window, which by the halo's definition no cell of
// the region does.  The tests compare regions with whole images, and a
// window one pixel short with them, to hold this.
#include "api/run.h"
#include "interp/stages.h"
#include "quillmorph.h"

namespace quillmorph {

namespace {

static_assert(QM_HALO == halo_lr_pixels, "the public halo is the engine's");

// A rectangle in pixels, [x, x + width) x [y, y + height), in 64 bits so
// that sums of int coordinates cannot overflow.
struct Rect {
    long long x, y, width, height;
};

bool inside(const Rect& inner, const Rect& outer) {
    return inner.width > 0 && inner.height > 0 && inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

long long clamp(long long v, long long low, long long high) {
    return v < low ? low : v > high ? high : v;
}

// The LR pixels an HR rectangle depends on: its footprint widened by the
// halo, clipped to the image.
Rect needed_window(const Rect& region, long long image_width, long long image_height) {
    const long long x0 = clamp(region.x / 2 - QM_HALO, 0, image_width - 1);
    const long long y0 = clamp(region.y / 2 - QM_HALO, 0, image_height - 1);
    const long long x1 = clamp((region.x + region.width - 1) / 2 + QM_HALO, 0, image_width - 1);
    const long long y1 = clamp((region.y + region.height - 1) / 2 + QM_HALO, 0, image_height - 1);
    return Rect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

}  // namespace

}  // namespace quillmorph

using namespace quillmorph;

extern "C" int qm_upscale_region(const unsigned char* window, int window_width, int window_height,
                                 ptrdiff_t window_stride, int window_x, int window_y,
                                 int image_width, int image_height, int region_x, int region_y,
                                 int region_width, int region_height, unsigned char* hr,
                                 ptrdiff_t hr_stride, const qm_options* options) {
    if (!window || !hr) return QM_ERROR_ARGUMENT;
    const int size = size_status(image_width, image_height);
    if (size != QM_OK) return size;
    const Rect image = {0, 0, image_width, image_height};
    const Rect output = {0, 0, 2LL * image_width, 2LL * image_height};
    const Rect given = {window_x, window_y, window_width, window_height};
    const Rect region = {region_x, region_y, region_width, region_height};
    if (!inside(given, image) || !inside(region, output)) return QM_ERROR_ARGUMENT;
    const Rect needed = needed_window(region, image_width, image_height);
    if (!inside(needed, given)) return QM_ERROR_ARGUMENT;
    const auto window_row_bytes = static_cast<std::size_t>(window_width);
    const auto region_row_bytes = static_cast<std::size_t>(region_width);
    if (window_stride < static_cast<std::ptrdiff_t>(window_row_bytes) ||
        hr_stride < static_cast<std::ptrdiff_t>(region_row_bytes))
        return QM_ERROR_ARGUMENT;
    std::uintptr_t window_span = 0, hr_span = 0;
    if (!image_span(window_height, window_row_bytes, window_stride, &window_span) ||
        !image_span(region_height, region_row_bytes, hr_stride, &hr_span))
        return QM_ERROR_TOO_LARGE;
    if (overlap(window, window_span, hr, hr_span)) return QM_ERROR_ARGUMENT;

    // Every coordinate now fits an int: the rectangles lie in the image.
    const MemoryRun memory = {
        window + (needed.y - window_y) * window_stride + (needed.x - window_x),
        window_stride,
        static_cast<int>(needed.width),
        static_cast<int>(needed.height),
        hr,
        hr_stride,
        static_cast<int>(region.y - 2 * needed.y),
        static_cast<int>(region.x - 2 * needed.x),
        region_width,
        region_height};
    return upscale_in_memory(memory, options);
}
