// Where the HR image goes, and how it gets there whole.
//
// An output is prepared before the work starts (so that an output that
// cannot be written is reported at once, and a temporary file exists for a
// signal to remove), takes the image a row at a time as the rows are
// finished, and is finished once the last row is in:
//
//   standard output  "-", or any name for the stream the process writes to
//                    (/dev/stdout, /proc/self/fd/1, the file it is redirected
//                    to): written to that stream.
//   direct           an existing file that is not a regular file (a pipe, a
//                    terminal, a device): opened and written as it is.
//   replace          a new file, or an existing regular file with one name:
//                    written to a temporary file beside it (beside the file
//                    a symbolic link leads to) and renamed onto it.
//   in place         an existing regular file with other hard links, or one
//                    whose directory refuses the rename: the image is staged
//                    in a temporary file (beside it, or in the temporary
//                    directory) and copied over it, truncated, as a plain
//                    open and write would; not atomic.
#ifndef QUILLMORPH_PGM_PGM_OUTPUT_H
#define QUILLMORPH_PGM_PGM_OUTPUT_H

#include <cstdio>
#include <string>

namespace quillmorph {

enum PgmOutputMode {
    pgm_output_stdout,
    pgm_output_direct,
    pgm_output_replace,
    pgm_output_in_place,
};

struct PgmOutput {
    PgmOutputMode mode;
    std::string path;       // as given: what direct and in-place writes open
    std::string target;     // the regular file a replace puts in place
    std::string temp_name;  // the temporary file of a replace or an in-place staging
    std::FILE* file;        // where the rows go once the first is written, or nullptr
    int width;
    int height;
    int rows_written;
};

// Whether the image for path goes to standard output, so that messages must
// go elsewhere.
bool pgm_output_is_stdout(const char* path);

// Decides how a width x height image reaches path and opens what it can
// without touching an existing file.  Returns pgm_write_ok, or
// pgm_write_failed with nothing left open or created.
int prepare_pgm_output(const char* path, int width, int height, PgmOutput* output);

// Writes the next row of width pixels, after the header when it is the
// first; a direct or in-place output is opened (and truncated) only then.
int write_pgm_row(PgmOutput* output, const unsigned char* row);

// After the last row: puts the file in place.  Fails when a row is missing
// or the data could not be stored; then an existing output is unchanged
// (except a direct one, written as far as it got, and an in-place one whose
// copy failed on the way), and no temporary file is left.  The output is
// closed either way.
int finish_pgm_output(PgmOutput* output);

// Gives up a prepared output, written or not, as finish does on failure.
void abandon_pgm_output(PgmOutput* output);

// Writes the width x height pixels (row stride width) as an 8-bit binary
// PGM, through a prepared output: the file appears whole under path or not
// at all, and an existing file is replaced only on success.
int write_pgm_image(const unsigned char* pixels, const char* path, int width, int height);

}  // namespace quillmorph

#endif
