#include "test_images.h"

#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "interp/upsample.h"
#include "test_support.h"

namespace quillmorph {

std::vector<unsigned char> textured_pixels(int w, int h) {
    std::vector<unsigned char> pixels;
    std::uint32_t state = 12345;
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            state = state * 1664525u + 1013904223u;
            const double noise_level = static_cast<double>(state >> 24) / 32.0;
            double v =
                110 + 70 * std::sin(0.5 * c + 0.25 * r) + 40 * std::cos(0.07 * r * c) + noise_level;
            if (c > w / 2 + r / 3) v = 255 - v;  // a slanted step
            pixels.push_back(
                static_cast<unsigned char>(std::lround(std::fmin(255.0, std::fmax(0.0, v)))));
        }
    }
    return pixels;
}

std::string valid_image(int w, int h) {
    std::vector<unsigned char> pixels(to_size(w) * to_size(h));
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<unsigned char>(i * 7 + i / to_size(w) * 13);
    return pgm_bytes(w, h, pixels);
}

const char* const content_names[content_kinds] = {"noise",  "ramp",  "ramp edge",
                                                  "binary", "waves", "constant"};

unsigned char pixel(double value) {
    return static_cast<unsigned char>(std::floor(std::fmin(255.0, std::fmax(0.0, value)) + 0.5));
}

std::vector<std::uint16_t> content_samples(Content content, int w, int h, int maxval,
                                           std::mt19937_64& gen) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double sx = unit(gen), sy = unit(gen), level = 128 + 100 * unit(gen);
    const double angle = 3.14159265358979 * unit(gen), period = 2.5 + 3 * (1 + unit(gen));
    const double scale = maxval / 255.0;
    std::vector<std::uint16_t> lr(to_size(w) * to_size(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double v = level;
            const double across = std::cos(angle) * (x - w / 2.0) + std::sin(angle) * (y - h / 2.0);
            switch (content) {
                case noise:
                    v = static_cast<double>(gen() % to_size(maxval + 1)) / scale;
                    break;
                case ramp:
                    v = level + 2 * sx * x + 2 * sy * y;
                    break;
                case ramp_edge:
                    v = across > 0 ? 60 + sx * x + 0.5 * sy * y : 190 - 0.5 * sx * x + sy * y;
                    break;
                case binary:
                    v = std::sin(across / period * 3) > 0 ? 255 : 0;
                    break;
                case waves:
                    v = 128 + 100 * std::sin(across / period) + 20 * std::cos(0.3 * x * sy);
                    break;
                default:
                    break;
            }
            lr[cell(y, x, w)] = static_cast<std::uint16_t>(
                std::floor(std::fmin(maxval, std::fmax(0.0, v * scale)) + 0.5));
        }
    return lr;
}

std::vector<unsigned char> content_image(Content content, int w, int h, std::mt19937_64& gen) {
    const std::vector<std::uint16_t> samples = content_samples(content, w, h, 255, gen);
    return std::vector<unsigned char>(samples.begin(), samples.end());
}

template <typename Sample>
std::vector<double> upsampled(int w, int h, const std::vector<Sample>& lr, int maxval) {
    std::vector<double> grid(4 * lr.size());
    upsample_initial(w, lr.data(), grid.data(), h, maxval);
    return grid;
}

template <typename Sample>
std::vector<double> upscaled(int w, int h, const std::vector<Sample>& lr, int threads,
                             RingSizes rings, int maxval) {
    std::vector<double> grid(4 * lr.size());
    const RunLayout layout = {layout_for_threads(threads, w).threads, rings};
    const UpscaleStatus status = upscale_image(lr.data(), w, h, maxval, grid.data(), layout);
    EXPECT_EQ(status, upscale_ok) << w << " x " << h;
    return grid;
}

template std::vector<double> upsampled(int, int, const std::vector<unsigned char>&, int);
template std::vector<double> upsampled(int, int, const std::vector<std::uint16_t>&, int);
template std::vector<double> upscaled(int, int, const std::vector<unsigned char>&, int, RingSizes,
                                      int);
template std::vector<double> upscaled(int, int, const std::vector<std::uint16_t>&, int, RingSizes,
                                      int);

}  // namespace quillmorph
