// Images the tests upscale, made here from formulas and fixed generators.
#ifndef QUILLMORPH_TESTS_TEST_IMAGES_H
#define QUILLMORPH_TESTS_TEST_IMAGES_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "interp/pixels.h"
#include "interp/upscale.h"

namespace quillmorph {

// Sinusoids, a slanted step and a little noise from a fixed linear
// congruential generator, the same on every platform: every estimator
// branch gets exercised, and the pinned outputs are made from it.
std::vector<unsigned char> textured_pixels(int w, int h);

// Kinds of content for randomised tests.
enum Content { noise, ramp, ramp_edge, binary, waves, constant, content_kinds };
extern const char* const content_names[content_kinds];

// A w x h image of one kind of content, its slopes, angles and levels drawn
// from gen, its samples 0..maxval (levels drawn for 0..255 and scaled).
std::vector<std::uint16_t> content_samples(Content content, int w, int h, int maxval,
                                           std::mt19937_64& gen);
// The same with 8-bit samples.
std::vector<unsigned char> content_image(Content content, int w, int h, std::mt19937_64& gen);

// A w x h binary PGM file image of a simple pattern that differs from
// row to row: an ordinary valid input.
std::string valid_image(int w, int h);

// A value rounded half up and clamped to a pixel.
unsigned char pixel(double value);

// The 2w x 2h grid of the initial upsampling of lr (samples of unsigned
// char or std::uint16_t, at most maxval).
template <typename Sample>
std::vector<double> upsampled(int w, int h, const std::vector<Sample>& lr,
                              int maxval = max_8bit_sample);

// The 2w x 2h grid the engine makes of lr, on the given threads with the
// given rings (the defaults: as many threads as the process may use).
template <typename Sample>
std::vector<double> upscaled(int w, int h, const std::vector<Sample>& lr, int threads = 0,
                             RingSizes rings = default_rings, int maxval = max_8bit_sample);

}  // namespace quillmorph

#endif
