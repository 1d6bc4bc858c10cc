// Writing PGM headers, and whole images as PGM files.
#include <cstddef>
#include <cstdio>

#include "pgm/pgm.h"
#include "pgm/pgm_output.h"

namespace quillmorph {

namespace {

constexpr int output_maxval = 255;

}  // namespace

int write_pgm_header(std::FILE* stream, int width, int height) {
    if (width <= 0 || height <= 0) return pgm_write_failed;
    return std::fprintf(stream, "P5\n %d %d\n%d\n", width, height, output_maxval) > 0
               ? pgm_write_ok
               : pgm_write_failed;
}

int write_pgm_image(const unsigned char* pixels, const char* path, int width, int height) {
    if (width <= 0 || height <= 0) return pgm_write_failed;
    PgmOutput output;
    if (prepare_pgm_output(path, width, height, &output) != pgm_write_ok) return pgm_write_failed;
    for (int r = 0; r < height; ++r) {
        if (write_pgm_row(&output, pixels + static_cast<std::ptrdiff_t>(r) * width) !=
            pgm_write_ok) {
            abandon_pgm_output(&output);
            return pgm_write_failed;
        }
    }
    return finish_pgm_output(&output);
}

}  // namespace quillmorph
