// Binary PGM files: header parsing and writing the HR grid.
#ifndef QUILLMORPH_PGM_PGM_H
#define QUILLMORPH_PGM_PGM_H

#include <cstddef>
#include <cstdio>

namespace quillmorph {

// Status codes of read_pgm_header.
constexpr int pgm_ok = 0;
constexpr int pgm_malformed = -1;
constexpr int pgm_premature_end = -10;

// Header kinds by magic.
constexpr int pgm_kind_gray = 1;   // "P5", binary grayscale
constexpr int pgm_kind_color = 3;  // "P6", binary colour
constexpr int pgm_kind_pam = 4;    // "P7"

// Header lines are read through a buffer of this many bytes.
constexpr int pgm_line_size = 256;

// Parses the header from stream and leaves it on the first pixel byte.
// Returns pgm_ok, pgm_malformed or pgm_premature_end; the outputs are
// meaningful only on pgm_ok.
int read_pgm_header(std::FILE* stream, int* width, int* height, int* maxval, int* kind);

// Reads header lines into line (pgm_line_size bytes) until one does not begin
// with '#'.  Returns 0 with that line in the buffer, or -1 at end of stream.
int skip_comment_lines(char* line, std::FILE* stream);

// Status codes of the writers.
constexpr int pgm_write_ok = 0;
constexpr int pgm_write_failed = -3;

// Writes the header of a width x height image to an open stream.
int write_pgm_header(std::FILE* stream, int width, int height);

}  // namespace quillmorph

#endif
