// Writing the HR grid as an 8-bit binary PGM file.
//
// The file is written to a temporary name in the same directory and renamed
// into place once it is complete, so a failed run never leaves a truncated
// image under the output name and never damages a file already there.
// Outputs that are not regular files (a pipe, a terminal, /dev/null) cannot
// be renamed onto and are written directly.
#include "pgm/pgm.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int output_maxval = 255;
constexpr mode_t default_file_mode = 0666;  // what fopen creates, before the umask

mode_t current_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

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
// had, then renames it over path.
int write_and_rename(const char* path, const struct stat* existing, const unsigned char* pixels,
                     int width, int height, std::size_t count) {
    std::string temp_name = std::string(path) + ".XXXXXX";
    const int fd = mkstemp(&temp_name[0]);
    if (fd < 0) return pgm_write_failed;

    const mode_t mode = existing ? (existing->st_mode & 07777)
                                 : (default_file_mode & ~current_umask());
    std::FILE* file = (fchmod(fd, mode) == 0) ? fdopen(fd, "wb") : nullptr;
    if (!file) {
        close(fd);
        unlink(temp_name.c_str());
        return pgm_write_failed;
    }
    if (write_pgm_stream(file, pixels, width, height, count) != pgm_write_ok ||
        std::rename(temp_name.c_str(), path) != 0) {
        unlink(temp_name.c_str());
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

    struct stat info;
    const bool exists = stat(path, &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) return pgm_write_failed;
    // The rename would replace a file that a plain fopen could not write:
    // a read-only output is refused, not silently swapped for a new file.
    if (exists && faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) return pgm_write_failed;

    unsigned char* pixels = static_cast<unsigned char*>(std::malloc(count));
    if (!pixels) return pgm_write_no_memory;
    for (std::size_t i = 0; i < count; ++i) pixels[i] = pgm_pixel_from_value(grid[i]);

    const int status = (exists && !S_ISREG(info.st_mode))
                           ? write_in_place(path, pixels, width, height, count)
                           : write_and_rename(path, exists ? &info : nullptr, pixels, width,
                                              height, count);
    std::free(pixels);
    return status;
}
