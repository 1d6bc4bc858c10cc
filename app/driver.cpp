// The driver reads the LR image, builds and refines the HR grid, writes it and
// reports the processor time used.  It is the only part that prints.
#include "app/driver.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/messages.h"
#include "app/read_input.h"
#include "interp/grid.h"
#include "interp/refine.h"
#include "interp/upsample.h"
#include "pgm/pgm.h"
#include "pgm/pgm_output.h"
#include "platform/platform.h"

namespace {

constexpr double seconds_per_minute = 60.0;

// The image tools' name for standard input.
constexpr const char* stdin_name = "-";

// Every message is flushed as it is printed, so that a log or a pipeline
// sees it when it happens, and a killed run has said what it did so far.
void say(std::FILE* messages, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(messages, format, args);
    va_end(args);
    std::fflush(messages);
}

int fail_reading(std::FILE* messages, InputStatus status, const char* path, int w, int h) {
    switch (status) {
        case input_header_error:
            say(messages, MSG_HEADER_ERROR, path);
            break;
        case input_format_error:
            say(messages, MSG_FORMAT_ERROR);
            break;
        case input_bad_size:
            say(messages, MSG_BAD_SIZE, path, w, h);
            break;
        case input_too_large:
            say(messages, MSG_TOO_LARGE, path, w, h);
            break;
        case input_truncated:
            say(messages, MSG_TRUNCATED, path, w, h);
            break;
        case input_no_memory:
            say(messages, MSG_NO_MEMORY, path);
            break;
        case input_ok:
            break;
    }
    return 1;
}

// fopen succeeds on a directory; reading it would then fail as a header error.
std::FILE* open_input(const char* path) {
    if (std::strcmp(path, stdin_name) == 0) {
        platform_set_binary_mode(stdin);
        return stdin;
    }
    std::FILE* stream = std::fopen(path, "rb");
    if (stream && platform_stream_is_directory(stream)) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
}

void close_input(std::FILE* stream) {
    if (stream != stdin) std::fclose(stream);
}

}  // namespace

int run_quillmorph(int argc, char** argv) {
    if (argc < 3) {
        say(stdout, MSG_USAGE);
        return 1;
    }
    platform_install_signal_cleanup();
    const char* input_path = argv[1];
    const char* output_path = argv[2];
    // The image stream must stay clean when it is standard output.
    std::FILE* messages = pgm_output_is_stdout(output_path) ? stderr : stdout;
    say(messages, MSG_START, input_path);

    std::FILE* input = open_input(input_path);
    if (!input) {
        say(messages, MSG_CANNOT_OPEN, input_path);
        return 1;
    }
    int w = 0, h = 0;
    InputStatus status = read_lr_header(input, &w, &h);
    if (status != input_ok) {
        close_input(input);
        return fail_reading(messages, status, input_path, w, h);
    }

    const double start = platform_processor_seconds();
    unsigned char* lr = nullptr;
    status = read_lr_pixels(input, w, h, &lr);
    close_input(input);
    if (status != input_ok) return fail_reading(messages, status, input_path, w, h);

    // The grid and the output (its temporary file, where it has one) come
    // before the long refinement, so that a run that cannot finish says so
    // at once; writing the image afterwards needs no memory of its own.
    double* grid = allocate_doubles(hr_cell_count(w, h));
    if (!grid) {
        std::free(lr);
        return fail_reading(messages, input_no_memory, input_path, w, h);
    }
    PgmOutput output;
    if (prepare_pgm_output(output_path, &output) != pgm_write_ok) {
        std::free(lr);
        free_doubles(grid);
        say(messages, MSG_WRITE_FAILED, output_path);
        return 1;
    }
    upsample_initial(w, lr, grid, h);
    std::free(lr);

    if (refine_image(grid, w, h) != 0) {
        abandon_pgm_output(&output);
        free_doubles(grid);
        return fail_reading(messages, input_no_memory, input_path, w, h);
    }

    const int written = finish_pgm_output(&output, grid, 2 * w, 2 * h);
    free_doubles(grid);
    if (written != pgm_write_ok) {
        say(messages, MSG_WRITE_FAILED, output_path);
        return 1;
    }
    say(messages, MSG_WRITE_DONE, output_path);
    say(messages, MSG_TIME_USED, (platform_processor_seconds() - start) / seconds_per_minute);
    return 0;
}
