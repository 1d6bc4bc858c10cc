#include "app/read_input.h"

#include "pgm/pgm.h"
#include "platform/files.h"
#include "quillmorph.h"

namespace quillmorph {

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

}  // namespace

InputStatus read_lr_header(std::FILE* stream, int* w, int* h) {
    int width = 0, height = 0, maxval = 0, kind = 0;
    if (read_pgm_header(stream, &width, &height, &maxval, &kind) != pgm_ok)
        return input_header_error;
    if (maxval != supported_maxval || kind != pgm_kind_gray) return input_format_error;
    *w = width;
    *h = height;
    switch (qm_check_size(width, height)) {
        case QM_OK:
            return input_ok;
        case QM_ERROR_SIZE:
            return input_bad_size;
        default:
            return input_too_large;
    }
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

}  // namespace quillmorph
