/*
 * quillmorph.h: the Quillmorph library, version 1.
 *
 * Quillmorph doubles the resolution of grayscale images of 8 or 16 bits
 * and any maxval up to 65535.  A W x H
 * image becomes one of 2W x 2H: the original pixels stay at the even
 * positions (row 2y, column 2x), and every other pixel is estimated, first
 * by a fixed 4-tap filter, then by two adaptive least-squares passes that
 * follow edges instead of blurring them.  The result is defined to the bit:
 * every call, on every platform, processor and thread count, writes the same
 * bytes as the command-line tool writes after its PGM header.
 *
 * Three calls do the work, each for 8-bit samples (unsigned char) and, with
 * 16 in its name, for 16-bit samples (uint16_t, in the machine's own byte
 * order):
 *
 *   qm_upscale         a whole image in memory into a whole image in memory;
 *   qm_upscale_rows    a stream of rows in, a stream of rows out, in memory
 *                      bounded by the width (about 3.3 KB per LR column),
 *                      whatever the height;
 *   qm_upscale_region  any rectangle of the output, exactly as the whole
 *                      image has it, from the part of the input around it:
 *                      for tiles, and for images too large for one machine.
 *
 * All take optional settings (threads, a progress hook, the maxval) in a
 * qm_options.
 *
 * Deep images.  The maxval M is the largest value a sample may take: 255
 * for the 8-bit calls and 65535 for the 16-bit ones unless the options say
 * otherwise (4095 for a 12-bit camera, say).  Every bound of the method
 * scales with M; the output lies in 0..M.  An 8-bit image is upscaled to
 * the same bytes by either width of call.
 *
 * Errors.  Every call that can fail returns an int: QM_OK (0) or one of the
 * negative QM_ERROR_ codes below; qm_status_string gives a sentence for it.
 * Arguments are checked before anything is allocated, and a failed call
 * leaks nothing.  The library never prints, never installs signal handlers,
 * never exits or aborts, and keeps no global state beyond the copy of its
 * vector code, chosen once (qm_vector_target).
 *
 * Threads.  Calls are safe from several threads at once, each with its own
 * images (a qm_options may be shared while no thread changes it), and give
 * the same bytes as one call alone.  A call works on the given number of
 * threads, the calling thread among them; with 1 it starts none.  The row
 * callbacks and the progress hook are always called on the calling thread,
 * in order.
 *
 * Example:
 *
 *     unsigned char* hr = malloc((size_t)4 * width * height);
 *     int status = qm_upscale(lr, width, height, width, hr, 2 * width, NULL);
 *     if (status != QM_OK) fprintf(stderr, "%s\n", qm_status_string(status));
 *
 * This header is valid C99 and C++.
 */
#ifndef QUILLMORPH_H
#define QUILLMORPH_H

#include <stddef.h>
#include <stdint.h>

/* The version of this header; qm_version_number() gives the library's. */
#define QUILLMORPH_VERSION_MAJOR 1
#define QUILLMORPH_VERSION_MINOR 2
#define QUILLMORPH_VERSION_PATCH 0
#define QUILLMORPH_VERSION_NUMBER \
    (QUILLMORPH_VERSION_MAJOR * 10000 + QUILLMORPH_VERSION_MINOR * 100 + QUILLMORPH_VERSION_PATCH)

/* QM_API marks the library's functions.  Define QUILLMORPH_STATIC when
 * linking the static library on Windows (CMake's Quillmorph::quillmorph_static
 * and `pkg-config --static` do it for you). */
#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(QUILLMORPH_BUILDING_SHARED)
#define QM_API __declspec(dllexport)
#elif defined(QUILLMORPH_STATIC)
#define QM_API
#else
#define QM_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QM_API __attribute__((visibility("default")))
#else
#define QM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Versions ---------------------------------------------------------- */

/* QUILLMORPH_VERSION_NUMBER of the library actually loaded. */
QM_API int qm_version_number(void);
/* "major.minor.patch" of the library actually loaded. */
QM_API const char* qm_version_string(void);

/* ---- Vector code ------------------------------------------------------- */

/* The copy of the vector code this process runs (since 1.2): "avx512",
 * "avx2" or "sse2" on x86-64, "neon" on ARM64, "wasm-simd128" in
 * WebAssembly, or "generic" (plain doubles, any processor).  Every copy
 * writes the same bytes; the widest that the processor and the operating
 * system run is chosen once, at the first call.  The environment variable
 * QUILLMORPH_CPU, read then, may name a copy to run instead (to compare
 * them, or to rule one out): it can lower the choice, never raise it.  A
 * name that is unknown, or whose copy this processor cannot run, leaves no
 * copy: this returns NULL and every upscaling call fails with
 * QM_ERROR_VECTOR_TARGET.  The text is static. */
QM_API const char* qm_vector_target(void);

/* ---- Status codes ------------------------------------------------------ */

#define QM_OK 0
/* A null pointer, a stride shorter than its row, overlapping input and
 * output, or an option value out of range. */
#define QM_ERROR_ARGUMENT (-1)
/* A side of the image below 3 pixels. */
#define QM_ERROR_SIZE (-2)
/* A size the library cannot address (twice a side past INT_MAX, or a buffer
 * past the address space). */
#define QM_ERROR_TOO_LARGE (-3)
/* Memory could not be allocated; nothing was read or written. */
#define QM_ERROR_NO_MEMORY (-4)
/* The read_row callback returned non-zero. */
#define QM_ERROR_READ (-5)
/* The write_row callback returned non-zero. */
#define QM_ERROR_WRITE (-6)
/* The progress hook asked to stop. */
#define QM_ERROR_CANCELLED (-7)
/* A sample of the input lies above the maxval (since 1.1). */
#define QM_ERROR_SAMPLE (-8)
/* The QUILLMORPH_CPU environment variable names vector code that is
 * unknown or that this processor cannot run; see qm_vector_target
 * (since 1.2). */
#define QM_ERROR_VECTOR_TARGET (-9)

/* A static English sentence for any status, never NULL; an unknown code
 * says so.  The text is the same for every call and never freed. */
QM_API const char* qm_status_string(int status);

/* ---- Options ----------------------------------------------------------- */

/* Settings for a call, opaque so that new ones can be added.  NULL in place
 * of a qm_options means the defaults. */
typedef struct qm_options qm_options;

/* New options holding the defaults, or NULL when out of memory. */
QM_API qm_options* qm_options_new(void);
/* Releases options; NULL does nothing. */
QM_API void qm_options_free(qm_options* options);

/* Threads a call works on: 0 (the default) for every processor the process
 * may use (its affinity mask and CPU quota), 1 for the calling thread
 * alone, n for at most n.  However many are asked for, at most
 * QM_MAX_THREADS run.  QM_ERROR_ARGUMENT when negative or options is
 * NULL.  Threads that cannot be started are done without. */
QM_API int qm_options_set_threads(qm_options* options, int threads);
#define QM_MAX_THREADS 256

/* Progress of a call.  progress(user, rows_done, rows_total) is called on
 * the calling thread with the HR rows handed out so far and in all: in
 * order, at least every few dozen rows and once at the end.  A non-zero
 * return stops the call within a few rows, and it returns
 * QM_ERROR_CANCELLED.  A NULL progress removes the hook.  QM_ERROR_ARGUMENT
 * when options is NULL. */
typedef int (*qm_progress_fn)(void* user, int rows_done, int rows_total);
QM_API int qm_options_set_progress(qm_options* options, qm_progress_fn progress, void* user);

/* The maxval M of the images, 1..65535 (since 1.1).  Unset, it is 255 for
 * the 8-bit calls and 65535 for the 16-bit ones; an 8-bit call with a
 * maxval above 255 fails with QM_ERROR_ARGUMENT.  QM_ERROR_ARGUMENT when
 * maxval is out of range or options is NULL. */
QM_API int qm_options_set_maxval(qm_options* options, int maxval);

/* ---- Upscaling --------------------------------------------------------- */

/* Upscales the width x height image lr into the 2*width x 2*height image
 * hr.  Strides are in bytes from one row to the next, at least the row
 * length (width for lr, 2*width for hr).  Row y of lr is read from
 * lr + y * lr_stride; row y of hr is written at hr + y * hr_stride, 2*width
 * bytes, and the bytes between rows are not touched.  lr is never written,
 * and must not overlap hr.
 *
 * Returns QM_OK; QM_ERROR_ARGUMENT (null pointers, short strides, overlap,
 * bad options), QM_ERROR_SIZE (a side below 3), QM_ERROR_TOO_LARGE,
 * QM_ERROR_SAMPLE (a sample above the maxval) or QM_ERROR_NO_MEMORY with
 * nothing written; or QM_ERROR_CANCELLED with hr written in part (in full
 * when the hook asked to stop at its last call, which comes after the last
 * row). */
QM_API int qm_upscale(const unsigned char* lr, int width, int height, ptrdiff_t lr_stride,
                      unsigned char* hr, ptrdiff_t hr_stride, const qm_options* options);

/* The same for 16-bit samples (since 1.1).  Strides are still in bytes, at
 * least 2*width for lr and 4*width for hr, and even. */
QM_API int qm_upscale16(const uint16_t* lr, int width, int height, ptrdiff_t lr_stride,
                        uint16_t* hr, ptrdiff_t hr_stride, const qm_options* options);

/* Reads the next LR row, width bytes, into row; returns 0, or non-zero to
 * stop the call with QM_ERROR_READ. */
typedef int (*qm_read_row_fn)(void* user, unsigned char* row);
/* Takes the next HR row, 2*width bytes, valid only during the call; returns
 * 0, or non-zero to stop the call with QM_ERROR_WRITE. */
typedef int (*qm_write_row_fn)(void* user, const unsigned char* row);

/* Upscales a width x height image that arrives a row at a time: read_row is
 * called height times for the LR rows from the top, write_row 2*height
 * times for the HR rows from the top, each with user, on the calling thread
 * and in order.  An LR row is read only when the work reaches it, and an HR
 * row handed on as soon as it is final, so the first rows leave long before
 * the last arrive, and memory depends on the width alone.  All memory is
 * allocated before the first row is read.
 *
 * Returns QM_OK; QM_ERROR_ARGUMENT, QM_ERROR_SIZE, QM_ERROR_TOO_LARGE or
 * QM_ERROR_NO_MEMORY before any callback is made; or QM_ERROR_READ,
 * QM_ERROR_WRITE or QM_ERROR_CANCELLED when a callback stopped the call,
 * or QM_ERROR_SAMPLE as soon as a row read holds a sample above the maxval
 * (no callback is made after that). */
QM_API int qm_upscale_rows(int width, int height, qm_read_row_fn read_row,
                           qm_write_row_fn write_row, void* user, const qm_options* options);

/* The same for 16-bit samples (since 1.1): rows of width and 2*width
 * uint16_t. */
typedef int (*qm_read_row16_fn)(void* user, uint16_t* row);
typedef int (*qm_write_row16_fn)(void* user, const uint16_t* row);
QM_API int qm_upscale16_rows(int width, int height, qm_read_row16_fn read_row,
                             qm_write_row16_fn write_row, void* user, const qm_options* options);

/* QM_OK when a width x height image can be upscaled, QM_ERROR_SIZE or
 * QM_ERROR_TOO_LARGE when not: the calls' own size check, for a caller who
 * wants to know before it makes its buffers or files (since 1.1).  QM_OK
 * holds for every call on the image, whatever its options; the working
 * memory grows with the width, so on a 32-bit build the width is bounded by
 * the address space (a few hundred thousand pixels). */
QM_API int qm_check_size(int width, int height);

/* ---- Regions ----------------------------------------------------------- */

/* The dependency radius, in LR pixels.  HR pixel (row R, column C) lies on
 * LR pixel (R / 2, C / 2), rounded down; its value depends only on the LR
 * pixels at most QM_HALO rows and columns from that one.  So a rectangle of
 * the output can be computed exactly from the LR rectangle under it widened
 * by QM_HALO on every side, clipped to the image: its window. */
#define QM_HALO 7

/* Writes the region_width x region_height rectangle at (region_x,
 * region_y) of the 2*image_width x 2*image_height output, any position and
 * size within it, exactly as qm_upscale would write it for the whole
 * image.  window holds the LR pixels of the window_width x window_height
 * rectangle at (window_x, window_y) of the image_width x image_height LR
 * image, rows window_stride bytes apart; it must hold every LR pixel the
 * region depends on: columns region_x / 2 - QM_HALO to
 * (region_x + region_width - 1) / 2 + QM_HALO and rows likewise, clipped to
 * the image.  More is allowed; only what is needed is read and worked on.
 * The image's own borders keep their rules: a region at the border of the
 * image is computed as in the whole image, never with the window's edge
 * taken for a border.  Row y of the region is written at hr + y * hr_stride,
 * region_width bytes.
 *
 * Returns QM_OK; QM_ERROR_ARGUMENT (null pointers, rectangles that do not
 * fit the image, a window short of a pixel the region needs, short strides,
 * overlap, bad options), QM_ERROR_SIZE or QM_ERROR_TOO_LARGE (for the image
 * size), QM_ERROR_SAMPLE (a sample above the maxval among those the region
 * needs) or QM_ERROR_NO_MEMORY with nothing written; or QM_ERROR_CANCELLED
 * (the progress hook counts the region's rows) with hr written in part, as
 * for qm_upscale. */
QM_API int qm_upscale_region(const unsigned char* window, int window_width, int window_height,
                             ptrdiff_t window_stride, int window_x, int window_y, int image_width,
                             int image_height, int region_x, int region_y, int region_width,
                             int region_height, unsigned char* hr, ptrdiff_t hr_stride,
                             const qm_options* options);

/* The same for 16-bit samples (since 1.1); strides in bytes, even. */
QM_API int qm_upscale16_region(const uint16_t* window, int window_width, int window_height,
                               ptrdiff_t window_stride, int window_x, int window_y, int image_width,
                               int image_height, int region_x, int region_y, int region_width,
                               int region_height, uint16_t* hr, ptrdiff_t hr_stride,
                               const qm_options* options);

/* The window a region needs (since 1.1): the LR rectangle that
 * qm_upscale_region reads for the region_width x region_height rectangle at
 * (region_x, region_y) of the output of an image_width x image_height
 * image, written to the four int pointers.  Returns QM_OK; QM_ERROR_SIZE or
 * QM_ERROR_TOO_LARGE for the image size; QM_ERROR_ARGUMENT for a null
 * pointer or a region that is empty or does not fit the output, with
 * nothing written. */
QM_API int qm_region_window(int image_width, int image_height, int region_x, int region_y,
                            int region_width, int region_height, int* window_x, int* window_y,
                            int* window_width, int* window_height);

#ifdef __cplusplus
}
#endif

#endif /* QUILLMORPH_H */
