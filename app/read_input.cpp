#include "app/read_input.h"

#include <cstdint>
#include <cstdlib>

#include "interp/grid.h"
#include "pgm/pgm.h"
#include "platform/platform.h"

namespace {

constexpr int supported_maxval = 255;

// Bytes left in the stream when it is a regular file, or -1 when unknown.
long long bytes_remaining(std::FILE* stream) {
    const long long size = platform_stream_regular_size(stream);
    if (size < 0) return -1;
    const long position = std::ftell(stream);
    if (position < 0) return -1;
    return size - position;
}

// The first buffer for a stream of unknown size; it doubles as bytes arrive.
constexpr std::size_t first_read_size = std::size_t{1} << 16;

// Reads count bytes from a stream whose size cannot be known in advance (a
// pipe, a terminal).  The header's claim is not trusted with an allocation:
// the buffer grows only as far as the data actually sent.
InputStatus read_growing(std::FILE* stream, std::size_t count, unsigned char** pixels) {
    unsigned char* buffer = nullptr;
    std::size_t capacity = 0, filled = 0;
    while (filled < count) {
        if (filled == capacity) {
            // Double the buffer, but never past count (and so never overflow).
            const std::size_t step = capacity == 0 ? first_read_size : capacity;
            const std::size_t next = step < count - capacity ? capacity + step : count;
            void* grown = std::realloc(buffer, next);
            if (!grown) {
                std::free(buffer);
                return input_no_memory;
            }
            buffer = static_cast<unsigned char*>(grown);
            capacity = next;
        }
        const std::size_t wanted = capacity - filled;
        const std::size_t got = std::fread(buffer + filled, 1, wanted, stream);
        filled += got;
        if (got < wanted) {  // end of stream or a read error
            std::free(buffer);
            return input_truncated;
        }
    }
    *pixels = buffer;
    return input_ok;
}

}  // namespace

InputStatus read_lr_header(std::FILE* stream, int* w, int* h) {
    int width = 0, height = 0, maxval = 0, kind = 0;
    if (read_pgm_header(stream, &width, &height, &maxval, &kind) != pgm_ok)
        return input_header_error;
    if (maxval != supported_maxval || kind != pgm_kind_gray) return input_format_error;
    *w = width;
    *h = height;
    if (width < min_image_side || height < min_image_side) return input_bad_size;
    if (!image_size_supported(width, height)) return input_too_large;
    return input_ok;
}

InputStatus check_pixels_available(std::FILE* stream, int w, int h) {
    const long long remaining = bytes_remaining(stream);
    const unsigned long long count =
        static_cast<unsigned long long>(w) * static_cast<unsigned long long>(h);
    return remaining >= 0 && static_cast<unsigned long long>(remaining) < count ? input_truncated
                                                                                : input_ok;
}

InputStatus read_lr_row(std::FILE* stream, int w, unsigned char* row) {
    const std::size_t count = static_cast<std::size_t>(w);
    return std::fread(row, 1, count, stream) == count ? input_ok : input_truncated;
}

InputStatus read_lr_pixels(std::FILE* stream, int w, int h, unsigned char** pixels) {
    const std::size_t count = lr_pixel_count(w, h);
    if (count == SIZE_MAX) return input_no_memory;
    if (check_pixels_available(stream, w, h) != input_ok) return input_truncated;
    if (bytes_remaining(stream) < 0) return read_growing(stream, count, pixels);

    unsigned char* buffer = static_cast<unsigned char*>(std::malloc(count));
    if (!buffer) return input_no_memory;
    if (std::fread(buffer, 1, count, stream) != count) {
        std::free(buffer);
        return input_truncated;
    }
    *pixels = buffer;
    return input_ok;
}
