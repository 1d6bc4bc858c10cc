// Binary PGM files: header parsing and writing the HR grid.
#ifndef QUILLMORPH_PGM_PGM_H
#define QUILLMORPH_PGM_PGM_H

#include <cstddef>
#include <cstdio>

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

// Writes the width x height grid (row stride width) as an 8-bit binary PGM:
// each value + 0.5, truncated, clamped to 0..255, NaN as 0.  The file appears
// whole under path or not at all; an existing file is replaced only on success.
int write_pgm_image(const double* grid, const char* path, int width, int height);

// Writes the header of a width x height image to an open stream.
int write_pgm_header(std::FILE* stream, int width, int height);

// Converts count grid values to bytes and writes them to an open stream,
// through a small buffer of its own: no allocation.
int write_pgm_values(std::FILE* stream, const double* values, std::size_t count);

// Converts one grid value to its output byte.
unsigned char pgm_pixel_from_value(double value);

#endif
