// Writing the HR grid as an 8-bit binary PGM image.
#include <cstdint>
#include <cstdio>

#include "pgm/pgm.h"
#include "pgm/pgm_output.h"

namespace {

constexpr int output_maxval = 255;

// Pixels are converted into this many bytes at a time: writing needs no
// memory beyond the stack.
constexpr std::size_t write_chunk_bytes = std::size_t{1} << 16;

}  // namespace

unsigned char pgm_pixel_from_value(double value) {
    // Round half up by adding 0.5 and truncating; the comparisons come first
    // so that NaN, negative and huge values never reach the conversion.
    const double shifted = value + 0.5;
    if (!(shifted >= 0.0)) return 0;
    if (shifted >= output_maxval + 1.0) return output_maxval;
    return static_cast<unsigned char>(static_cast<int>(shifted));
}

int write_pgm_header(std::FILE* stream, int width, int height) {
    if (width <= 0 || height <= 0) return pgm_write_failed;
    return std::fprintf(stream, "P5\n %d %d\n%d\n", width, height, output_maxval) > 0
               ? pgm_write_ok
               : pgm_write_failed;
}

int write_pgm_values(std::FILE* stream, const double* values, std::size_t count) {
    unsigned char chunk[write_chunk_bytes];
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = count - done < write_chunk_bytes ? count - done : write_chunk_bytes;
        for (std::size_t i = 0; i < n; ++i) chunk[i] = pgm_pixel_from_value(values[done + i]);
        if (std::fwrite(chunk, 1, n, stream) != n) return pgm_write_failed;
        done += n;
    }
    return pgm_write_ok;
}

int write_pgm_image(const double* grid, const char* path, int width, int height) {
    if (width <= 0 || height <= 0) return pgm_write_failed;
    PgmOutput output;
    if (prepare_pgm_output(path, width, height, &output) != pgm_write_ok) return pgm_write_failed;
    for (int r = 0; r < height; ++r) {
        if (write_pgm_row(&output, grid + static_cast<std::ptrdiff_t>(r) * width) != pgm_write_ok) {
            abandon_pgm_output(&output);
            return pgm_write_failed;
        }
    }
    return finish_pgm_output(&output);
}
