// The whole upscaling of an image, streamed down it row by row: LR rows are
// read as they are needed and HR rows handed on as they are finished, so
// that memory is bounded by the width whatever the height.
#ifndef QUILLMORPH_INTERP_UPSCALE_H
#define QUILLMORPH_INTERP_UPSCALE_H

#include <cstddef>
#include <cstdint>

#include "interp/stages.h"

namespace quillmorph {

// How the engine keeps an image's LR samples: bytes per sample, 1
// (unsigned char) or 2 (std::uint16_t, in the machine's order), and the
// maxval M, the largest value a sample may take, which every bound of the
// method scales with.  8-bit storage holds M up to 255, 16-bit up to 65535.
struct SampleFormat {
    int bytes;
    int maxval;
};

// Where the LR rows come from, in order from the top: read_row fills row
// with the w samples of the next one, in the run's sample format, and
// returns 0, or non-zero when it cannot (the run then stops).
struct LrRowSource {
    int (*read_row)(void* context, void* row);
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
    upscale_bad_size,        // a side below min_image_side
    upscale_too_large,       // a size image_size_supported refuses
    upscale_no_vector_code,  // QUILLMORPH_CPU ruled out every copy (vector_kernels())
};

// Rows of the grid ring and slot rows of each block store (interp/stages.h
// has their least sizes).
struct RingSizes {
    int grid_rows;
    int store_rows;
};
constexpr RingSizes default_rings = {default_grid_rows, default_store_rows};

// At most this many threads work on a run, however many are asked for.
constexpr int max_threads = 256;

// A run's threads (the calling thread among them) and its rings.
struct RunLayout {
    int threads;
    RingSizes rings;
};

// The layout for a request of `threads` threads on an image w LR pixels
// wide: 0 asks for every processor the process may run on (its affinity
// mask and CPU quota on Linux), and no request gets more than max_threads.
// The rings are the default ones up to a few threads, and larger ones
// beyond, so that every thread finds an estimate to run (interp/stages.h);
// they grow with the threads and shrink as the width gives more jobs per
// row.  The one place where the thread policy lives.
RunLayout layout_for_threads(int threads, int w);

// Upsamples and refines a w x h LR image, on the layout's threads (1 to
// max_threads) with its rings; the rows written are the same bits for any
// layout.  Every callback is made on the calling thread, rows in order.
// Sizes are checked (interp/grid.h, and rings_fit with the layout's rings)
// and all memory is allocated before the first row is read; a thread that
// cannot be started is done without.
UpscaleStatus upscale_rows(int w, int h, SampleFormat samples, LrRowSource source, HrRowSink sink,
                           RunLayout layout);

// The same from a whole w x h image in memory (rows w samples apart) into a
// whole 2w x 2h grid (rows 2w doubles apart); Sample is unsigned char or
// std::uint16_t.
template <typename Sample>
UpscaleStatus upscale_image(const Sample* lr, int w, int h, int maxval, double* hr,
                            RunLayout layout);

extern template UpscaleStatus upscale_image(const unsigned char*, int, int, int, double*,
                                            RunLayout);
extern template UpscaleStatus upscale_image(const std::uint16_t*, int, int, int, double*,
                                            RunLayout);

// The bytes a run allocates for a w x h image with the given layout.
std::size_t upscale_bytes(int w, int h, SampleFormat samples, RunLayout layout);

// The bytes each LR column adds to the rings of a run on an image h rows
// high with the given ring sizes: the rings grow with the width alone, by
// this much a column.
std::size_t ring_bytes_per_lr_column(int h, SampleFormat samples, RingSizes rings);

// Whether the rings a run of a w x h image allocates with the given ring
// sizes can be had at all: together at most PTRDIFF_MAX bytes, the largest
// object whose pointer differences a ptrdiff_t holds.  On a 32-bit
// build this, not the sides, is what bounds the width.
bool rings_fit(int w, int h, SampleFormat samples, RingSizes rings);

}  // namespace quillmorph

#endif
