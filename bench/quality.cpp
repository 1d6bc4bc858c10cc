// quality: how faithful the upscaling is on an image with a known answer.
//
//   quality original.pgm [initial_out.pgm refined_out.pgm]
//
// Decimates the original (keeps the pixels at even rows and columns, which
// is exactly how the upscaler models its input), upscales the result, and
// prints the PSNR against the original of the initial upsampling alone and
// of the complete, refined output.  Odd sizes lose their last row or column.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/read_input.h"
#include "interp/grid.h"
#include "interp/pixels.h"
#include "interp/upscale.h"
#include "interp/upsample.h"
#include "pgm/pgm.h"
#include "pgm/pgm_output.h"

using namespace quillmorph;

namespace {

// Index of pixel (r, c) in an image whose rows hold stride pixels.
std::size_t cell(int r, int c, int stride) {
    return static_cast<std::size_t>(r) * static_cast<std::size_t>(stride) +
           static_cast<std::size_t>(c);
}

// PSNR in dB of the grid, as the written bytes, against the original's
// top-left w2 x h2 pixels.
double psnr(const std::vector<double>& grid, const unsigned char* original, int stride, int w2,
            int h2) {
    double squared_error = 0.0;
    for (int r = 0; r < h2; ++r) {
        for (int c = 0; c < w2; ++c) {
            const double d = sample_from_value(grid[cell(r, c, w2)], max_8bit_sample) -
                             static_cast<double>(original[cell(r, c, stride)]);
            squared_error += d * d;
        }
    }
    const double mse = squared_error / (static_cast<double>(w2) * h2);
    return mse == 0.0 ? INFINITY : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// Writes the grid as the bytes the tool would write.
void write_grid(const std::vector<double>& grid, const char* path, int w2, int h2) {
    std::vector<unsigned char> pixels(grid.size());
    samples_from_values(grid.data(), grid.size(), max_8bit_sample, pixels.data());
    write_pgm_image(pixels.data(), path, w2, h2);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::printf("Usage: quality original.pgm [initial_out.pgm refined_out.pgm]\n");
        return 1;
    }
    std::FILE* input = std::fopen(argv[1], "rb");
    int width = 0, height = 0;
    bool read = input && read_lr_header(input, &width, &height) == input_ok;
    std::vector<unsigned char> original(read ? lr_pixel_count(width, height) : 0);
    for (int r = 0; read && r < height; ++r)
        read = read_lr_row(input, width, &original[cell(r, 0, width)]) == input_ok;
    if (input) std::fclose(input);
    if (!read) {
        std::printf("Cannot read %s as an 8-bit PGM of at least 6 x 6 pixels.\n", argv[1]);
        return 1;
    }
    const int w = width / 2, h = height / 2;
    if (w < 3 || h < 3) {
        std::printf("%s is too small to decimate.\n", argv[1]);
        return 1;
    }

    std::vector<unsigned char> lr(lr_pixel_count(w, h));
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) lr[cell(r, c, w)] = original[cell(2 * r, 2 * c, width)];

    std::vector<double> grid(4 * lr.size());
    upsample_initial(w, lr.data(), grid.data(), h, max_8bit_sample);
    const double initial = psnr(grid, original.data(), width, 2 * w, 2 * h);
    if (argc == 4) write_grid(grid, argv[2], 2 * w, 2 * h);
    if (upscale_image(lr.data(), w, h, max_8bit_sample, grid.data(), layout_for_threads(0, w)) !=
        upscale_ok) {
        std::printf("Out of memory.\n");
        return 1;
    }
    const double refined = psnr(grid, original.data(), width, 2 * w, 2 * h);
    if (argc == 4) write_grid(grid, argv[3], 2 * w, 2 * h);
    std::printf("%s: %d x %d from %d x %d; PSNR initial %.3f dB, refined %.3f dB (%+.3f dB)\n",
                argv[1], 2 * w, 2 * h, w, h, initial, refined, refined - initial);
    return 0;
}
