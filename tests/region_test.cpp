// Regions of the output from windows of the input: the bytes of the whole
// image for every region with a window exactly as large as it needs, a
// window one pixel short refused, and the halo proven both ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "quillmorph.h"
#include "test_images.h"
#include "test_support.h"

namespace quillmorph {

namespace {

struct Rect {
    int x, y, width, height;
};

// The LR rectangle a region needs, by the header's rule.
Rect needed_by(const Rect& region, int w, int h) {
    const int x0 = std::max(0, region.x / 2 - QM_HALO);
    const int y0 = std::max(0, region.y / 2 - QM_HALO);
    const int x1 = std::min(w - 1, (region.x + region.width - 1) / 2 + QM_HALO);
    const int y1 = std::min(h - 1, (region.y + region.height - 1) / 2 + QM_HALO);
    return Rect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

std::vector<unsigned char> whole(int w, int h, const std::vector<unsigned char>& lr) {
    std::vector<unsigned char> hr(4 * lr.size());
    EXPECT_EQ(qm_upscale(lr.data(), w, h, w, hr.data(), 2 * w, nullptr), QM_OK);
    return hr;
}

// qm_upscale_region with the window given, read from the whole image in
// place (so that the window's stride is the image's); the status, and the
// region in *out.
int region_from(const std::vector<unsigned char>& lr, int w, int h, const Rect& window,
                const Rect& region, std::vector<unsigned char>* out, int threads = 1) {
    out->assign(to_size(region.width) * to_size(region.height), 0);
    qm_options* options = qm_options_new();
    qm_options_set_threads(options, threads);
    const int status = qm_upscale_region(
        &lr[cell(window.y, window.x, w)], window.width, window.height, w, window.x, window.y, w, h,
        region.x, region.y, region.width, region.height, out->data(), region.width, options);
    qm_options_free(options);
    return status;
}

std::vector<unsigned char> cut(const std::vector<unsigned char>& hr, int w, const Rect& region) {
    std::vector<unsigned char> part;
    for (int y = region.y; y < region.y + region.height; ++y)
        part.insert(part.end(), &hr[cell(y, region.x, 2 * w)],
                    &hr[cell(y, region.x, 2 * w)] + region.width);
    return part;
}

// A region drawn from gen: anywhere, at a border or corner, a single pixel,
// or the whole output.
Rect random_region(int w, int h, int kind, std::mt19937_64& gen) {
    auto below = [&](int n) { return static_cast<int>(gen() % static_cast<unsigned>(n)); };
    Rect r{below(2 * w), below(2 * h), 0, 0};
    r.width = 1 + below(2 * w - r.x);
    r.height = 1 + below(2 * h - r.y);
    if (kind == 1) r.x = 0;                                          // left border
    if (kind == 2) r.y = 2 * h - r.height;                           // bottom border
    if (kind == 3) r = Rect{2 * w - r.width, 0, r.width, r.height};  // top right corner
    if (kind == 4) r.width = r.height = 1;                           // one pixel
    if (kind == 5) r = Rect{0, 0, 2 * w, 2 * h};                     // everything
    return r;
}

TEST(Region, EveryRegionFromItsWindowIsTheWholeImagesBytes) {
    std::mt19937_64 gen(20);
    std::uniform_int_distribution<int> side(3, 60);
    for (int trial = 0; trial < 60; ++trial) {
        const int w = side(gen), h = side(gen);
        const std::vector<unsigned char> lr =
            content_image(static_cast<Content>(trial % content_kinds), w, h, gen);
        const std::vector<unsigned char> hr = whole(w, h, lr);
        for (int kind = 0; kind < 6; ++kind) {
            const Rect region = random_region(w, h, kind, gen);
            const Rect needed = needed_by(region, w, h);
            Rect window = {};
            ASSERT_EQ(qm_region_window(w, h, region.x, region.y, region.width, region.height,
                                       &window.x, &window.y, &window.width, &window.height),
                      QM_OK);
            ASSERT_TRUE(window.x == needed.x && window.y == needed.y &&
                        window.width == needed.width && window.height == needed.height)
                << "qm_region_window, trial " << trial;
            std::vector<unsigned char> part;
            ASSERT_EQ(region_from(lr, w, h, needed, region, &part, 1 + trial % 3), QM_OK);
            ASSERT_EQ(part, cut(hr, w, region))
                << "trial " << trial << ", " << w << " x " << h << ", region " << region.x << ","
                << region.y << " " << region.width << " x " << region.height;

            // One pixel short on any side that the image does not clip.
            const Rect shorter[] = {{needed.x + 1, needed.y, needed.width - 1, needed.height},
                                    {needed.x, needed.y + 1, needed.width, needed.height - 1},
                                    {needed.x, needed.y, needed.width - 1, needed.height},
                                    {needed.x, needed.y, needed.width, needed.height - 1}};
            const bool clipped[] = {needed.x == 0, needed.y == 0, needed.x + needed.width == w,
                                    needed.y + needed.height == h};
            for (int side_cut = 0; side_cut < 4; ++side_cut)
                if (!clipped[side_cut]) {
                    EXPECT_EQ(region_from(lr, w, h, shorter[side_cut], region, &part),
                              QM_ERROR_ARGUMENT)
                        << "trial " << trial << ", side " << side_cut;
                }
        }
    }
}

// A change to one LR pixel changes no HR pixel more than QM_HALO rows or
// columns from it (from the LR pixel at or before each HR pixel), and on
// these images some pixel exactly that far, so that the halo is no larger
// than it must be.
TEST(Region, HaloIsTheExactDependencyRadius) {
    std::mt19937_64 gen(21);
    const int w = 40, h = 40, x = 20, y = 19;
    int farthest = 0;
    for (int trial = 0; trial < 24; ++trial) {
        std::vector<unsigned char> lr =
            content_image(static_cast<Content>(trial % (content_kinds - 1)), w, h, gen);
        const std::vector<unsigned char> before = whole(w, h, lr);
        lr[cell(y, x, w)] = static_cast<unsigned char>(lr[cell(y, x, w)] ^ (1 + gen() % 255));
        const std::vector<unsigned char> after = whole(w, h, lr);
        for (int r = 0; r < 2 * h; ++r)
            for (int c = 0; c < 2 * w; ++c)
                if (before[cell(r, c, 2 * w)] != after[cell(r, c, 2 * w)]) {
                    const int distance = std::max(std::abs(r / 2 - y), std::abs(c / 2 - x));
                    ASSERT_LE(distance, QM_HALO) << "HR " << r << "," << c << ", trial " << trial;
                    farthest = std::max(farthest, distance);
                }
    }
    EXPECT_EQ(farthest, QM_HALO);
}

TEST(Region, MisuseIsRefused) {
    const int w = 20, h = 16;
    const std::vector<unsigned char> lr(to_size(w) * to_size(h), 9);
    std::vector<unsigned char> out(64, 0);
    unsigned char* hr = out.data();
    const unsigned char* px = lr.data();
    const struct {
        const char* what;
        int expected;
        int status;
    } cases[] = {
        {"null window", QM_ERROR_ARGUMENT,
         qm_upscale_region(nullptr, w, h, w, 0, 0, w, h, 0, 0, 4, 4, hr, 4, nullptr)},
        {"null hr", QM_ERROR_ARGUMENT,
         qm_upscale_region(px, w, h, w, 0, 0, w, h, 0, 0, 4, 4, nullptr, 4, nullptr)},
        {"image too small", QM_ERROR_SIZE,
         qm_upscale_region(px, 2, 2, w, 0, 0, 2, 2, 0, 0, 1, 1, hr, 4, nullptr)},
        {"window past the image", QM_ERROR_ARGUMENT,
         qm_upscale_region(px, w, h, w, 1, 0, w, h, 0, 0, 4, 4, hr, 4, nullptr)},
        {"region past the output", QM_ERROR_ARGUMENT,
         qm_upscale_region(px, w, h, w, 0, 0, w, h, 2 * w - 3, 0, 4, 4, hr, 4, nullptr)},
        {"empty region", QM_ERROR_ARGUMENT,
         qm_upscale_region(px, w, h, w, 0, 0, w, h, 0, 0, 0, 4, hr, 4, nullptr)},
        {"negative region", QM_ERROR_ARGUMENT,
         qm_upscale_region(px, w, h, w, 0, 0, w, h, -1, 0, 4, 4, hr, 4, nullptr)},
        {"window short of the halo", QM_ERROR_ARGUMENT,
         qm_upscale_region(px, 8, 8, w, 0, 0, w, h, 0, 0, 4, 4, hr, 4, nullptr)},
        {"window stride short", QM_ERROR_ARGUMENT,
         qm_upscale_region(px, w, h, w - 1, 0, 0, w, h, 0, 0, 4, 4, hr, 4, nullptr)},
        {"hr stride short", QM_ERROR_ARGUMENT,
         qm_upscale_region(px, w, h, w, 0, 0, w, h, 0, 0, 4, 4, hr, 3, nullptr)},
        {"hr inside the window", QM_ERROR_ARGUMENT,
         qm_upscale_region(px, w, h, w, 0, 0, w, h, 0, 0, 4, 4, const_cast<unsigned char*>(px) + 5,
                           4, nullptr)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
    EXPECT_EQ(out, std::vector<unsigned char>(64, 0));
    EXPECT_EQ(lr, std::vector<unsigned char>(lr.size(), 9));
}

}  // namespace

}  // namespace quillmorph
