// The whole upscaling of an image, streamed down it row by row: LR rows are
// read as they are needed and HR rows handed on as they are finished, so
// that memory is bounded by the width whatever the height.
#ifndef QUILLMORPH_INTERP_UPSCALE_H
#define QUILLMORPH_INTERP_UPSCALE_H

#include <cstddef>

#include "interp/stages.h"

namespace quillmorph {

// Where the LR rows come from, in order from the top: read_row fills row
// with the w bytes of the next one and returns 0, or non-zero when it
// cannot (the run then stops).
struct LrRowSource {
    int (*read_row)(void* context, unsigned char* row);
    void* context;
};

// Where the HR rows go, in order from the top: write_row takes the 2w
// values of the next one and returns 0, or non-zero when it cannot (the
// run then stops).  The values are final; the row is reused afterwards.
struct HrRowSink {
    int (*write_row)(void* context, const double* row);
    void* context;
};

enum UpscaleStatus {
    upscale_ok = 0,
    upscale_read_failed,
    upscale_write_failed,
    // Nothing was read or written:
    upscale_no_memory,
    upscale_bad_size,   // a side below min_image_side
    upscale_too_large,  // a size image_size_supported refuses
};

// Rows of the grid ring and slot rows of each block store (interp/stages.h
// has their least sizes).
struct RingSizes {
    int grid_rows;
    int store_rows;
};
constexpr RingSizes default_rings = {default_grid_rows, default_store_rows};

// The rings for `threads` threads on an image w LR pixels wide: the default
// rings up to a few threads, and larger ones beyond, so that every thread
// finds an estimate to run (interp/stages.h); they grow with the threads and
// shrink as the width gives more jobs per row.
RingSizes rings_for_threads(int threads, int w);

// Upsamples and refines a w x h LR image on the given number of threads
// (at least 1; the calling thread is one of them), with rings of the given
// sizes; the rows written are the same bits for any of them.  Every
// callback is made on the calling thread, rows in order.  Sizes are checked
// (interp/grid.h) and all memory is allocated before the first row is read;
// a thread that cannot be started is done without.
UpscaleStatus upscale_rows(int w, int h, LrRowSource source, HrRowSink sink, int threads,
                           RingSizes rings);

// The same on every processor the process may run on, with the rings for
// that many threads.
UpscaleStatus upscale_stream(int w, int h, LrRowSource source, HrRowSink sink);

// The same from a whole w x h image in memory (rows w bytes apart) into a
// whole 2w x 2h grid (rows 2w doubles apart).
UpscaleStatus upscale_image(const unsigned char* lr, int w, int h, double* hr, int threads,
                            RingSizes rings);

// The number of processors this process may run on (its affinity mask and
// CPU quota on Linux), at most the number of threads a run will start.
int available_threads();

// The bytes a run allocates for a w x h image with the given rings.
std::size_t upscale_bytes(int w, int h, RingSizes rings);

}  // namespace quillmorph

#endif
