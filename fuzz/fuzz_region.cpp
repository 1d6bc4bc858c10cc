// libFuzzer target: regions of the output from windows of the input.
//
// The bytes give an image of 3 to 40 pixels a side in 8 or 16 bits, its
// maxval, a region of the output, a margin around the window the region
// needs and the padding of both strides.  The region, computed from that
// window, must hold the whole image's samples; a window one pixel short on
// a side that the image does not clip is refused; a sample above the maxval
// where the region needs it is refused with nothing written, and one in the
// margin changes nothing.  Each window is copied into a buffer of exactly
// its size, so that a read past it is caught.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "quillmorph.h"

namespace {

constexpr int min_side = 3, max_side = 40;
constexpr int max_margin = 3;   // LR pixels beyond the needed window, per side
constexpr int max_padding = 3;  // samples between the end of a row and the next

// The fuzzer's bytes from the front; past their end a fixed generator goes
// on, so that short inputs still make varied images.
class Bytes {
   public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    unsigned next() {
        if (used_ < size_) return data_[used_++];
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 24;
    }
    unsigned next16() {
        const unsigned high = next();
        return high << 8 | next();
    }
    // A number in 0..n-1.
    int below(int n) { return static_cast<int>(next16() % static_cast<unsigned>(n)); }

   private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
    std::uint32_t state_ = 1;
};

struct Rect {
    int x, y, width, height;
};

bool contains(const Rect& r, int x, int y) {
    return x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height;
}

std::size_t at(int x, int y, int stride) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(stride) +
           static_cast<std::size_t>(x);
}

// What the header of the input says; the pixels follow it.
struct Case {
    bool deep, set_maxval, clamp;
    int maxval;
    int w, h;
    Rect region;
    int margin[4];  // left, top, right, bottom
    int window_padding, hr_padding;
};

Case read_case(Bytes& bytes) {
    Case c = {};
    const unsigned flags = bytes.next();
    c.deep = flags & 1;
    const int largest = c.deep ? 65535 : 255;
    // Unset, a maxval of some whole number of bits, or any.
    const unsigned kind = flags >> 1 & 3;
    c.set_maxval = kind != 0;
    const int bits = 1 + bytes.below(c.deep ? 16 : 8);
    const int any = 1 + bytes.below(largest);
    c.maxval = kind == 0 ? largest : kind == 1 ? (1 << bits) - 1 : any;
    // Samples reduced modulo maxval + 1, or clamped so that many sit at the maxval.
    c.clamp = flags & 8;
    c.w = min_side + bytes.below(max_side - min_side + 1);
    c.h = min_side + bytes.below(max_side - min_side + 1);
    Rect& r = c.region;
    r.x = bytes.below(2 * c.w);
    r.y = bytes.below(2 * c.h);
    r.width = 1 + bytes.below(2 * c.w - r.x);
    r.height = 1 + bytes.below(2 * c.h - r.y);
    for (int& m : c.margin) m = bytes.below(max_margin + 1);
    c.window_padding = bytes.below(max_padding + 1);
    c.hr_padding = bytes.below(max_padding + 1);
    return c;
}

int upscale(const unsigned char* lr, int w, int h, unsigned char* hr, const qm_options* options) {
    return qm_upscale(lr, w, h, w, hr, 2 * w, options);
}

int upscale(const std::uint16_t* lr, int w, int h, std::uint16_t* hr, const qm_options* options) {
    return qm_upscale16(lr, w, h, 2 * w, hr, 4 * w, options);
}

int upscale_region(const unsigned char* window, const Rect& given, int window_stride, int w, int h,
                   const Rect& region, unsigned char* hr, int hr_stride,
                   const qm_options* options) {
    return qm_upscale_region(window, given.width, given.height, window_stride, given.x, given.y, w,
                             h, region.x, region.y, region.width, region.height, hr, hr_stride,
                             options);
}

int upscale_region(const std::uint16_t* window, const Rect& given, int window_stride, int w, int h,
                   const Rect& region, std::uint16_t* hr, int hr_stride,
                   const qm_options* options) {
    return qm_upscale16_region(window, given.width, given.height, 2 * window_stride, given.x,
                               given.y, w, h, region.x, region.y, region.width, region.height, hr,
                               2 * hr_stride, options);
}

// A value the output buffers start with, so that a write shows.
template <typename Sample>
constexpr Sample untouched = static_cast<Sample>(0xa5a5);

// The region computed from the given window of lr (copied out with the
// case's padding) into a fresh buffer with the case's padding; the status,
// and the buffer in *out.
template <typename Sample>
int region_from(const std::vector<Sample>& lr, const Case& c, const Rect& given,
                const qm_options* options, std::vector<Sample>* out) {
    const int window_stride = given.width + c.window_padding;
    std::vector<Sample> window(at(given.width, given.height - 1, window_stride));
    for (int y = 0; y < given.height; ++y)
        for (int x = 0; x < given.width; ++x)
            window[at(x, y, window_stride)] = lr[at(given.x + x, given.y + y, c.w)];
    const int hr_stride = c.region.width + c.hr_padding;
    out->assign(at(c.region.width, c.region.height - 1, hr_stride), untouched<Sample>);
    return upscale_region(window.data(), given, window_stride, c.w, c.h, c.region, out->data(),
                          hr_stride, options);
}

// Whether the region in out (rows padded as region_from pads them) holds
// the whole output's samples, and the padding is as it was.
template <typename Sample>
bool same_as_whole(const std::vector<Sample>& out, const std::vector<Sample>& hr, const Case& c) {
    const int hr_stride = c.region.width + c.hr_padding;
    for (int y = 0; y < c.region.height; ++y)
        for (int x = 0; x < hr_stride && at(x, y, hr_stride) < out.size(); ++x) {
            const Sample expected = x < c.region.width
                                        ? hr[at(c.region.x + x, c.region.y + y, 2 * c.w)]
                                        : untouched<Sample>;
            if (out[at(x, y, hr_stride)] != expected) return false;
        }
    return true;
}

template <typename Sample>
void check(Bytes& bytes, const Case& c, const qm_options* options) {
    const auto limit = static_cast<unsigned>(c.maxval);
    std::vector<Sample> lr(at(0, c.h, c.w));
    for (Sample& s : lr) {
        const unsigned v = sizeof(Sample) == 1 ? bytes.next() : bytes.next16();
        s = static_cast<Sample>(c.clamp ? std::min(v, limit) : v % (limit + 1));
    }
    std::vector<Sample> hr(4 * lr.size());
    if (upscale(lr.data(), c.w, c.h, hr.data(), options) != QM_OK) __builtin_trap();

    // The window by the header's rule, then widened by the margin.
    const Rect& r = c.region;
    const int x0 = std::max(0, r.x / 2 - QM_HALO), y0 = std::max(0, r.y / 2 - QM_HALO);
    const int x1 = std::min(c.w - 1, (r.x + r.width - 1) / 2 + QM_HALO);
    const int y1 = std::min(c.h - 1, (r.y + r.height - 1) / 2 + QM_HALO);
    Rect needed = {};
    if (qm_region_window(c.w, c.h, r.x, r.y, r.width, r.height, &needed.x, &needed.y, &needed.width,
                         &needed.height) != QM_OK)
        __builtin_trap();
    if (needed.x != x0 || needed.y != y0 || needed.width != x1 - x0 + 1 ||
        needed.height != y1 - y0 + 1)
        __builtin_trap();
    const int left = std::max(0, needed.x - c.margin[0]);
    const int top = std::max(0, needed.y - c.margin[1]);
    const int right = std::min(c.w, needed.x + needed.width + c.margin[2]);
    const int bottom = std::min(c.h, needed.y + needed.height + c.margin[3]);
    const Rect window = {left, top, right - left, bottom - top};

    std::vector<Sample> out;
    if (region_from(lr, c, window, options, &out) != QM_OK) __builtin_trap();
    if (!same_as_whole(out, hr, c)) __builtin_trap();

    // One pixel short on each side that the image does not clip.
    const Rect shorter[] = {{needed.x + 1, needed.y, needed.width - 1, needed.height},
                            {needed.x, needed.y + 1, needed.width, needed.height - 1},
                            {needed.x, needed.y, needed.width - 1, needed.height},
                            {needed.x, needed.y, needed.width, needed.height - 1}};
    const bool clipped[] = {needed.x == 0, needed.y == 0, needed.x + needed.width == c.w,
                            needed.y + needed.height == c.h};
    for (int side = 0; side < 4; ++side) {
        if (clipped[side]) continue;
        if (region_from(lr, c, shorter[side], options, &out) != QM_ERROR_ARGUMENT) __builtin_trap();
        if (std::count(out.begin(), out.end(), untouched<Sample>) !=
            static_cast<std::ptrdiff_t>(out.size()))
            __builtin_trap();
    }

    // A sample above the maxval, where the samples can hold one.
    constexpr int largest = sizeof(Sample) == 1 ? 255 : 65535;
    if (c.maxval == largest) return;
    const auto too_large = static_cast<Sample>(c.maxval + 1 + bytes.below(largest - c.maxval));
    std::vector<Sample> bad = lr;
    bad[at(needed.x + bytes.below(needed.width), needed.y + bytes.below(needed.height), c.w)] =
        too_large;
    if (region_from(bad, c, window, options, &out) != QM_ERROR_SAMPLE) __builtin_trap();
    if (std::count(out.begin(), out.end(), untouched<Sample>) !=
        static_cast<std::ptrdiff_t>(out.size()))
        __builtin_trap();
    // In the margin it is never read.
    const int x = window.x + bytes.below(window.width), y = window.y + bytes.below(window.height);
    if (contains(needed, x, y)) return;
    bad = lr;
    bad[at(x, y, c.w)] = too_large;
    if (region_from(bad, c, window, options, &out) != QM_OK) __builtin_trap();
    if (!same_as_whole(out, hr, c)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes bytes(data, size);
    const Case c = read_case(bytes);
    qm_options* options = qm_options_new();
    if (!options) __builtin_trap();
    // One thread: fast, and the order of the work never varies.
    if (qm_options_set_threads(options, 1) != QM_OK) __builtin_trap();
    if (c.set_maxval && qm_options_set_maxval(options, c.maxval) != QM_OK) __builtin_trap();
    if (c.deep)
        check<std::uint16_t>(bytes, c, options);
    else
        check<unsigned char>(bytes, c, options);
    qm_options_free(options);
    return 0;
}
