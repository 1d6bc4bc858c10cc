// PGM header parsing.
//
// The header grammar: optional "#" comment lines, a magic line ("P5", "P6"
// or "P7"), then either the three numbers on the magic line itself or a size
// line and a maxval line, each of which may be preceded by comment lines.
// Lines are read through a 256-byte buffer, so one read takes at most 255
// characters; a comment longer than that is still skipped as a whole.
#include "pgm/pgm.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace quillmorph {

namespace {

// Reads one header line into line.  A line longer than the buffer is cut at
// the buffer's size; its remainder stays in the stream.  Returns 0, or -1 at
// end of stream.
int read_line(char* line, std::FILE* stream) {
    // fgets puts its terminating NUL in the last byte only when it fills the
    // buffer; this mark tells a cut line from one that merely holds a NUL byte.
    line[pgm_line_size - 1] = 1;
    return std::fgets(line, pgm_line_size, stream) ? 0 : -1;
}

// Whether the line just read filled the buffer before its newline.  Searching
// for the newline instead would stop at a NUL byte inside the line.
bool line_was_cut(const char* line) {
    return line[pgm_line_size - 1] == '\0' && line[pgm_line_size - 2] != '\n';
}

// A comment line that did not fit the buffer: consume the rest of it, so that
// digits in a long comment never pass for the size or the maxval.
void finish_long_line(const char* line, std::FILE* stream) {
    if (!line_was_cut(line)) return;
    int ch;
    do {
        ch = std::getc(stream);
    } while (ch != EOF && ch != '\n');
}

// Parses up to count decimal ints separated by white space, as "%d %d %d"
// would, but refuses numbers outside the range of int instead of overflowing.
// Returns the number of values converted, or -1 for an out-of-range number.
int parse_ints(const char* text, int* values, int count) {
    int converted = 0;
    while (converted < count) {
        char* end = nullptr;
        errno = 0;
        long value = std::strtol(text, &end, 10);
        if (end == text) break;
        if (errno == ERANGE || value < INT_MIN || value > INT_MAX) return -1;
        values[converted++] = static_cast<int>(value);
        text = end;
    }
    return converted;
}

int kind_of_magic(const char* line) {
    if (std::strncmp(line, "P5", 2) == 0) return pgm_kind_gray;
    if (std::strncmp(line, "P6", 2) == 0) return pgm_kind_color;
    if (std::strncmp(line, "P7", 2) == 0) return pgm_kind_pam;
    return 0;
}

}  // namespace

int skip_comment_lines(char* line, std::FILE* stream) {
    for (;;) {
        if (read_line(line, stream) != 0) return -1;
        if (line[0] != '#') return 0;
        finish_long_line(line, stream);
    }
}

int read_pgm_header(std::FILE* stream, int* width, int* height, int* maxval, int* kind) {
    char line[pgm_line_size];
    int numbers[3];

    // 1-2. The magic line, after any comments.
    if (skip_comment_lines(line, stream) != 0) return pgm_premature_end;
    const int magic_kind = kind_of_magic(line);
    if (magic_kind == 0) return pgm_malformed;

    // 3. "P5\n" is three characters; anything longer carries the numbers
    //    itself ("P5 512 384 255\n"), which is also how a CR LF magic line
    //    is read.
    if (std::strlen(line) > 3) {
        if (parse_ints(line + 2, numbers, 3) != 3) return pgm_malformed;
    } else {
        if (skip_comment_lines(line, stream) != 0) return pgm_premature_end;
        // A size line may carry the maxval too ("512 384 255").
        const int found = parse_ints(line, numbers, 3);
        if (found < 2) return pgm_malformed;
        if (found == 2) {
            if (skip_comment_lines(line, stream) != 0) return pgm_premature_end;
            if (parse_ints(line, numbers + 2, 1) != 1) return pgm_malformed;
        }
    }

    // 4. The stream now stands on the first pixel byte.
    *width = numbers[0];
    *height = numbers[1];
    *maxval = numbers[2];
    *kind = magic_kind;
    return pgm_ok;
}

}  // namespace quillmorph
