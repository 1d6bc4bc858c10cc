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

std::vector<unsigned char> content_image(Content content, int w, int h, std::mt19937_64& gen) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double sx = unit(gen), sy = unit(gen), level = 128 + 100 * unit(gen);
    const double angle = 3.14159265358979 * unit(gen), period = 2.5 + 3 * (1 + unit(gen));
    std::vector<unsigned char> lr(to_size(w) * to_size(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double v = level;
            const double across = std::cos(angle) * (x - w / 2.0) + std::sin(angle) * (y - h / 2.0);
            switch (content) {
                case noise:
                    v = static_cast<double>(gen() % 256);
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
            lr[cell(y, x, w)] = pixel(v);
        }
    return lr;
}

std::vector<double> upsampled(int w, int h, const std::vector<unsigned char>& lr) {
    std::vector<double> grid(4 * lr.size());
    upsample_initial(w, lr.data(), grid.data(), h);
    return grid;
}

std::vector<double> upscaled(int w, int h, const std::vector<unsigned char>& lr, int threads,
                             RingSizes rings) {
    std::vector<double> grid(4 * lr.size());
    if (threads == 0) threads = available_threads();
    const UpscaleStatus status = upscale_image(lr.data(), w, h, grid.data(), threads, rings);
    EXPECT_EQ(status, upscale_ok) << w << " x " << h;
    return grid;
}

}  // namespace quillmorph
