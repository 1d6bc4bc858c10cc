// Reading the LR image: header, format and size checks, pixel bytes.
#ifndef QUILLMORPH_APP_READ_INPUT_H
#define QUILLMORPH_APP_READ_INPUT_H

#include <cstdio>

namespace quillmorph {

// Outcomes of reading the input, one per message of the driver.
enum InputStatus {
    input_ok = 0,
    input_header_error,  // malformed header or premature end of file
    input_format_error,  // not "P5" with maxval 255
    input_bad_size,      // a side below 3
    input_too_large,     // sizes the program cannot address
    input_truncated,     // fewer than w x h pixel bytes
    input_no_memory,
};

// Parses and checks the header; on input_ok the stream stands on the first
// pixel byte and *w, *h hold the size.  On input_bad_size and input_too_large
// *w and *h hold the size that was refused.
InputStatus read_lr_header(std::FILE* stream, int* w, int* h);

// Fails (input_truncated) when the stream is a regular file too short to
// hold the w x h pixel bytes that follow the header, so that such a file is
// refused before any work.  A stream of unknown size (a pipe) passes; its
// end is found when its rows are read.
InputStatus check_pixels_available(std::FILE* stream, int w, int h);

// Reads the next row of w pixel bytes; input_truncated at the end of the
// stream or on a read error.
InputStatus read_lr_row(std::FILE* stream, int w, unsigned char* row);

}  // namespace quillmorph

#endif
