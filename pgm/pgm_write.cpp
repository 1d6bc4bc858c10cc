// Writing the HR grid as an 8-bit binary PGM file.
//
// The file is written to a temporary name in the same directory and renamed
// into place once it is complete, so a failed run never leaves a truncated
// image under the output name and never damages a file already there.
// Outputs that are not regular files (a pipe, a terminal, /dev/null) cannot
// be renamed onto and are written directly.
#include "pgm/pgm.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace {

constexpr int output_maxval = 255;

// Header, pixels, and a close whose failure (a full disk) is caught too.
int write_pgm_stream(std::FILE* file, const unsigned char* pixels, int width, int height,
                     std::size_t count) {
    bool ok = std::fprintf(file, "P5\n %d %d\n%d\n", width, height, output_maxval) > 0;
    ok = ok && std::fwrite(pixels, 1, count, file) == count;
    ok = (std::fclose(file) == 0) && ok;
    return ok ? pgm_write_ok : pgm_write_failed;
}

int write_in_place(const char* path, const unsigned char* pixels, int width, int height,
                   std::size_t count) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return pgm_write_failed;
    return write_pgm_stream(file, pixels, width, height, count);
}

// Writes a sibling temporary file with the permissions the output would have
// had, then moves it over path.
int write_and_replace(const char* path, const PathInfo& existing, const unsigned char* pixels,
                      int width, int height, std::size_t count) {
    std::string temp_name = path;
    const unsigned permissions =
        existing.exists ? existing.permissions : platform_new_file_permissions();
    std::FILE* file = platform_create_temp_file(&temp_name, permissions);
    if (!file) return pgm_write_failed;
    if (write_pgm_stream(file, pixels, width, height, count) != pgm_write_ok ||
        platform_replace_file(temp_name.c_str(), path) != 0) {
        std::remove(temp_name.c_str());
        return pgm_write_failed;
    }
    return pgm_write_ok;
}

}  // namespace

unsigned char pgm_pixel_from_value(double value) {
    // Round half up by adding 0.5 and truncating; the comparisons come first
    // so that NaN, negative and huge values never reach the conversion.
    const double shifted = value + 0.5;
    if (!(shifted >= 0.0)) return 0;
    if (shifted >= output_maxval + 1.0) return output_maxval;
    return static_cast<unsigned char>(static_cast<int>(shifted));
}

int write_pgm_image(const double* grid, const char* path, int width, int height) {
    if (width <= 0 || height <= 0) return pgm_write_failed;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    if (w > SIZE_MAX / h) return pgm_write_no_memory;
    const std::size_t count = w * h;

    const PathInfo info = platform_path_info(path);
    if (info.is_directory) return pgm_write_failed;
    // The rename would replace a file that a plain fopen could not write:
    // a read-only output is refused, not silently swapped for a new file.
    if (info.exists && !platform_may_write(path)) return pgm_write_failed;

    unsigned char* pixels = static_cast<unsigned char*>(std::malloc(count));
    if (!pixels) return pgm_write_no_memory;
    for (std::size_t i = 0; i < count; ++i) pixels[i] = pgm_pixel_from_value(grid[i]);

    const int status = (info.exists && !info.is_regular)
                           ? write_in_place(path, pixels, width, height, count)
                           : write_and_replace(path, info, pixels, width, height, count);
    std::free(pixels);
    return status;
}
