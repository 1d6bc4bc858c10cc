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

// The checks every region call makes of the image and the region, and the
// window the region needs: QM_OK, or the status to return.
int check_region(int image_width, int image_height, const Rect& region, Rect* needed) {
    const int size = size_status(image_width, image_height);
    if (size != QM_OK) return size;
    const Rect output = {0, 0, 2LL * image_width, 2LL * image_height};
    if (!inside(region, output)) return QM_ERROR_ARGUMENT;
    *needed = needed_window(region, image_width, image_height);
    return QM_OK;
}

template <typename Sample>
int upscale_region(const Sample* window, int window_width, int window_height,
                   std::ptrdiff_t window_stride, int window_x, int window_y, int image_width,
                   int image_height, int region_x, int region_y, int region_width,
                   int region_height, Sample* hr, std::ptrdiff_t hr_stride,
                   const qm_options* options) {
    if (!window || !hr) return QM_ERROR_ARGUMENT;
    const int maxval = call_maxval<Sample>(options);
    if (maxval == 0) return QM_ERROR_ARGUMENT;
    const Rect region = {region_x, region_y, region_width, region_height};
    Rect needed = {};
    const int checked = check_region(image_width, image_height, region, &needed);
    if (checked != QM_OK) return checked;
    const Rect image = {0, 0, image_width, image_height};
    const Rect given = {window_x, window_y, window_width, window_height};
    if (!inside(given, image) || !inside(needed, given)) return QM_ERROR_ARGUMENT;
    constexpr auto sample_bytes = static_cast<std::ptrdiff_t>(sizeof(Sample));
    const std::size_t window_row_bytes = static_cast<std::size_t>(window_width) * sizeof(Sample);
    const std::size_t region_row_bytes = static_cast<std::size_t>(region_width) * sizeof(Sample);
    if (window_stride < static_cast<std::ptrdiff_t>(window_row_bytes) ||
        hr_stride < static_cast<std::ptrdiff_t>(region_row_bytes) ||
        window_stride % sample_bytes != 0 || hr_stride % sample_bytes != 0)
        return QM_ERROR_ARGUMENT;
    std::uintptr_t window_span = 0, hr_span = 0;
    if (!image_span(window_height, window_row_bytes, window_stride, &window_span) ||
        !image_span(region_height, region_row_bytes, hr_stride, &hr_span))
        return QM_ERROR_TOO_LARGE;
    if (overlap(window, window_span, hr, hr_span)) return QM_ERROR_ARGUMENT;

    // Every coordinate now fits an int: the rectangles lie in the image.
    const Sample* needed_first =
        row_at(window, static_cast<std::ptrdiff_t>(needed.y - window_y), window_stride) +
        static_cast<std::ptrdiff_t>(needed.x - window_x);
    const int needed_width = static_cast<int>(needed.width);
    const int needed_height = static_cast<int>(needed.height);
    if (!samples_within(needed_first, needed_width, needed_height, window_stride, maxval))
        return QM_ERROR_SAMPLE;
    const MemoryImages<Sample> images = {needed_first,
                                         window_stride,
                                         needed_width,
                                         needed_height,
                                         hr,
                                         hr_stride,
                                         static_cast<int>(region.y - 2 * needed.y),
                                         static_cast<int>(region.x - 2 * needed.x),
                                         region_width,
                                         region_height};
    return upscale_in_memory(images, maxval, options);
}

}  // namespace

}  // namespace quillmorph

using namespace quillmorph;

extern "C" {

int qm_upscale_region(const unsigned char* window, int window_width, int window_height,
                      ptrdiff_t window_stride, int window_x, int window_y, int image_width,
                      int image_height, int region_x, int region_y, int region_width,
                      int region_height, unsigned char* hr, ptrdiff_t hr_stride,
                      const qm_options* options) {
    return upscale_region(window, window_width, window_height, window_stride, window_x, window_y,
                          image_width, image_height, region_x, region_y, region_width,
                          region_height, hr, hr_stride, options);
}

int qm_upscale16_region(const uint16_t* window, int window_width, int window_height,
                        ptrdiff_t window_stride, int window_x, int window_y, int image_width,
                        int image_height, int region_x, int region_y, int region_width,
                        int region_height, uint16_t* hr, ptrdiff_t hr_stride,
                        const qm_options* options) {
    return upscale_region(window, window_width, window_height, window_stride, window_x, window_y,
                          image_width, image_height, region_x, region_y, region_width,
                          region_height, hr, hr_stride, options);
}

int qm_region_window(int image_width, int image_height, int region_x, int region_y,
                     int region_width, int region_height, int* window_x, int* window_y,
                     int* window_width, int* window_height) {
    if (!window_x || !window_y || !window_width || !window_height) return QM_ERROR_ARGUMENT;
    Rect needed = {};
    const int checked = check_region(
        image_width, image_height, Rect{region_x, region_y, region_width, region_height}, &needed);
    if (checked != QM_OK) return checked;
    *window_x = static_cast<int>(needed.x);
    *window_y = static_cast<int>(needed.y);
    *window_width = static_cast<int>(needed.width);
    *window_height = static_cast<int>(needed.height);
    return QM_OK;
}

}  // extern "C"
