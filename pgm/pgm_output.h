// Where the HR image goes, and how it gets there whole.
//
// An output is prepared before the long work starts (so that an output that
// cannot be written is reported at once, and a temporary file exists for a
// signal to remove) and finished once the image is known:
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
//                    whose directory refuses the rename: truncated and
//                    written, as a plain open would; not atomic.
#ifndef QUILLMORPH_PGM_PGM_OUTPUT_H
#define QUILLMORPH_PGM_PGM_OUTPUT_H

#include <cstdio>
#include <string>

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
    std::string temp_name;  // the temporary file of a replace
    std::FILE* file;        // open from prepare to finish, or nullptr
};

// Whether the image for path goes to standard output, so that messages must
// go elsewhere.
bool pgm_output_is_stdout(const char* path);

// Decides how the image reaches path and opens what it can without touching
// an existing file.  Returns pgm_write_ok, or pgm_write_failed with nothing
// left open or created.
int prepare_pgm_output(const char* path, PgmOutput* output);

// Writes the width x height grid and puts the file in place.  On failure an
// existing output is unchanged (except in place), and no temporary file is
// left.  The output is closed either way.
int finish_pgm_output(PgmOutput* output, const double* grid, int width, int height);

// Gives up a prepared output without writing it.
void abandon_pgm_output(PgmOutput* output);

#endif
