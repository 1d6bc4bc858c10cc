// The driver reads the LR image, builds and refines the HR grid, writes it and
// reports the processor time used.  It is the only part that prints.
#include "app/driver.h"

#include <cstdio>
#include <cstdlib>

#include "app/messages.h"
#include "app/read_input.h"
#include "interp/grid.h"
#include "interp/refine.h"
#include "interp/upsample.h"
#include "pgm/pgm.h"
#include "platform/platform.h"

namespace {

constexpr double seconds_per_minute = 60.0;

int fail_reading(InputStatus status, const char* path, int w, int h) {
    switch (status) {
        case input_header_error: std::printf(MSG_HEADER_ERROR, path); break;
        case input_format_error: std::printf(MSG_FORMAT_ERROR); break;
        case input_bad_size: std::printf(MSG_BAD_SIZE, path, w, h); break;
        case input_too_large: std::printf(MSG_TOO_LARGE, path, w, h); break;
        case input_truncated: std::printf(MSG_TRUNCATED, path, w, h); break;
        case input_no_memory: std::printf(MSG_NO_MEMORY, path); break;
        case input_ok: break;
    }
    return 1;
}

// fopen succeeds on a directory; reading it would then fail as a header error.
std::FILE* open_input(const char* path) {
    std::FILE* stream = std::fopen(path, "rb");
    if (stream && platform_stream_is_directory(stream)) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
}

}  // namespace

int run_quillmorph(int argc, char** argv) {
    if (argc < 3) {
        std::printf(MSG_USAGE);
        return 1;
    }
    const char* input_path = argv[1];
    const char* output_path = argv[2];
    std::printf(MSG_START, input_path);

    std::FILE* input = open_input(input_path);
    if (!input) {
        std::printf(MSG_CANNOT_OPEN, input_path);
        return 1;
    }
    int w = 0, h = 0;
    InputStatus status = read_lr_header(input, &w, &h);
    if (status != input_ok) {
        std::fclose(input);
        return fail_reading(status, input_path, w, h);
    }

    const double start = platform_processor_seconds();
    unsigned char* lr = nullptr;
    status = read_lr_pixels(input, w, h, &lr);
    std::fclose(input);
    if (status != input_ok) return fail_reading(status, input_path, w, h);

    double* grid = allocate_doubles(hr_cell_count(w, h));
    if (!grid) {
        std::free(lr);
        return fail_reading(input_no_memory, input_path, w, h);
    }
    upsample_initial(w, lr, grid, h);
    std::free(lr);

    if (refine_image(grid, w, h) != 0) {
        free_doubles(grid);
        return fail_reading(input_no_memory, input_path, w, h);
    }

    const int written = write_pgm_image(grid, output_path, 2 * w, 2 * h);
    free_doubles(grid);
    if (written == pgm_write_no_memory) return fail_reading(input_no_memory, input_path, w, h);
    if (written != pgm_write_ok) {
        std::printf(MSG_WRITE_FAILED, output_path);
        return 1;
    }
    std::printf(MSG_WRITE_DONE, output_path);

    std::printf(MSG_TIME_USED, (platform_processor_seconds() - start) / seconds_per_minute);
    return 0;
}
