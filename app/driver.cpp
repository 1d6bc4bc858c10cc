// The driver checks the LR image's header, streams its rows through the
// upscaling into the output, and reports the processor time used.  It is
// the only part that prints.
#include "app/driver.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/messages.h"
#include "app/read_input.h"
#include "pgm/pgm.h"
#include "pgm/pgm_output.h"
#include "platform/files.h"
#include "platform/processors.h"
#include "quillmorph.h"

namespace quillmorph {

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

// The two ends of the stream of rows.
struct Streams {
    std::FILE* input;
    int w;
    PgmOutput* output;
};

int read_row(void* context, unsigned char* row) {
    const Streams& streams = *static_cast<const Streams*>(context);
    return read_lr_row(streams.input, streams.w, row) == input_ok ? 0 : -1;
}

int write_row(void* context, const unsigned char* row) {
    const Streams& streams = *static_cast<const Streams*>(context);
    return write_pgm_row(streams.output, row) == pgm_write_ok ? 0 : -1;
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
    if (!qm_vector_target()) {
        say(messages, MSG_NO_VECTOR_CODE, input_path, qm_status_string(QM_ERROR_VECTOR_TARGET));
        return 1;
    }

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

    // A regular file too short for its pixels is refused now, before any
    // work; a pipe's end shows when its rows are reached.
    status = check_pixels_available(input, w, h);
    if (status != input_ok) {
        close_input(input);
        return fail_reading(messages, status, input_path, w, h);
    }
    // The output (its temporary file, where it has one) comes before the
    // long work, so that a run that cannot finish says so at once.
    PgmOutput output;
    if (prepare_pgm_output(output_path, 2 * w, 2 * h, &output) != pgm_write_ok) {
        close_input(input);
        say(messages, MSG_WRITE_FAILED, output_path);
        return 1;
    }

    const double start = platform_processor_seconds();
    Streams streams = {input, w, &output};
    const int upscaled = qm_upscale_rows(w, h, read_row, write_row, &streams, nullptr);
    close_input(input);
    if (upscaled != QM_OK) {
        abandon_pgm_output(&output);
        if (upscaled == QM_ERROR_WRITE) {
            say(messages, MSG_WRITE_FAILED, output_path);
            return 1;
        }
        // The header's sizes passed the same checks, so that only the end
        // of the input or memory can be missing.
        const InputStatus reading = upscaled == QM_ERROR_READ ? input_truncated : input_no_memory;
        return fail_reading(messages, reading, input_path, w, h);
    }
    if (finish_pgm_output(&output) != pgm_write_ok) {
        say(messages, MSG_WRITE_FAILED, output_path);
        return 1;
    }
    say(messages, MSG_WRITE_DONE, output_path);
    say(messages, MSG_TIME_USED, (platform_processor_seconds() - start) / seconds_per_minute);
    return 0;
}

}  // namespace quillmorph
