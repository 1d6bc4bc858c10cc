// libFuzzer target: the driver's whole read path on arbitrary bytes.
//
// Each input is read twice: from a memory stream, whose size the reader
// cannot know (as with a pipe), and from a regular file, whose size it checks
// before any work.  Both must reach the same verdict, the same refused size
// and the same pixels.  Small images that pass go on through the initial
// upsampling and the writer; larger ones stop after the read so that every
// run stays fast.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/read_input.h"
#include "interp/grid.h"
#include "interp/pixels.h"
#include "interp/upsample.h"
#include "pgm/pgm.h"
#include "pgm/pgm_output.h"

using namespace quillmorph;

namespace {

constexpr std::size_t max_upsampled_pixels = 4096;

std::string output_path;  // a file in a private directory, made at start-up

struct ReadResult {
    InputStatus status = input_ok;
    int w = 0, h = 0;
    std::vector<unsigned char> pixels;
};

// The driver's sequence: header and size checks, the check of a regular
// file's size, then the pixel rows one at a time.  A row longer than the
// whole input cannot be read; it is not allocated either.
ReadResult read_image(std::FILE* stream, std::size_t input_size) {
    ReadResult result;
    result.status = read_lr_header(stream, &result.w, &result.h);
    if (result.status == input_ok)
        result.status = check_pixels_available(stream, result.w, result.h);
    if (result.status == input_ok && static_cast<std::size_t>(result.w) > input_size)
        result.status = input_truncated;
    std::vector<unsigned char> row(result.status == input_ok ? static_cast<std::size_t>(result.w)
                                                             : 0);
    for (int r = 0; result.status == input_ok && r < result.h; ++r) {
        result.status = read_lr_row(stream, result.w, row.data());
        result.pixels.insert(result.pixels.end(), row.begin(), row.end());
    }
    if (result.status != input_ok) result.pixels.clear();
    std::fclose(stream);
    return result;
}

std::FILE* open_memory_stream(std::vector<char>& bytes) {
    // fmemopen refuses an empty buffer; /dev/null is the same empty stream.
    return bytes.empty() ? std::fopen("/dev/null", "rb")
                         : fmemopen(bytes.data(), bytes.size(), "rb");
}

std::FILE* open_regular_file(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("quillmorph-fuzz-input", 0);
    if (fd < 0) std::abort();
    if (size && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    if (lseek(fd, 0, SEEK_SET) != 0) std::abort();
    std::FILE* stream = fdopen(fd, "rb");
    if (!stream) std::abort();
    return stream;
}

// The LR pixels stand unchanged at the even cells, every cell is written,
// and the filter clamps to the byte range; the writer then produces a whole
// file of the announced size.
void upsample_and_write(const ReadResult& image) {
    const std::size_t cells = hr_cell_count(image.w, image.h);
    std::vector<double> grid(cells, std::nan(""));
    upsample_initial(image.w, image.pixels.data(), grid.data(), image.h, max_8bit_sample);
    const std::size_t w2 = 2 * static_cast<std::size_t>(image.w);
    for (std::size_t i = 0; i < cells; ++i)
        if (!(grid[i] >= 0.0 && grid[i] <= 255.0)) __builtin_trap();
    for (std::size_t r = 0; r < static_cast<std::size_t>(image.h); ++r)
        for (std::size_t c = 0; c < static_cast<std::size_t>(image.w); ++c)
            if (grid[2 * r * w2 + 2 * c] != image.pixels[r * static_cast<std::size_t>(image.w) + c])
                __builtin_trap();

    std::vector<unsigned char> pixels(cells);
    samples_from_values(grid.data(), cells, max_8bit_sample, pixels.data());
    if (write_pgm_image(pixels.data(), output_path.c_str(), 2 * image.w, 2 * image.h) !=
        pgm_write_ok)
        __builtin_trap();
    const std::string header =
        "P5\n " + std::to_string(2 * image.w) + " " + std::to_string(2 * image.h) + "\n255\n";
    struct stat info;
    if (stat(output_path.c_str(), &info) != 0 ||
        static_cast<std::size_t>(info.st_size) != header.size() + cells)
        __builtin_trap();
}

void remove_output() {
    unlink(output_path.c_str());
    rmdir(output_path.substr(0, output_path.rfind('/')).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quillmorph-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) std::abort();
    output_path = pattern + "/out.pgm";
    std::atexit(remove_output);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> bytes(data, data + size);
    std::FILE* memory = open_memory_stream(bytes);
    if (!memory) std::abort();
    const ReadResult from_memory = read_image(memory, size);
    const ReadResult from_file = read_image(open_regular_file(data, size), size);

    if (from_memory.status != from_file.status) __builtin_trap();
    if (from_memory.status == input_bad_size || from_memory.status == input_too_large ||
        from_memory.status == input_ok) {
        if (from_memory.w != from_file.w || from_memory.h != from_file.h) __builtin_trap();
    }
    if (from_memory.pixels != from_file.pixels) __builtin_trap();

    if (from_file.status == input_ok && from_file.pixels.size() <= max_upsampled_pixels)
        upsample_and_write(from_file);
    return 0;
}
