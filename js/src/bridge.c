/* The WebAssembly module's own calls, for the JavaScript package beside it
 * (js/index.js): an upscale on the calling thread whose progress hook asks
 * JavaScript whether to go on, and may let the event loop run meanwhile. */
#include <emscripten.h>
#include <malloc.h>
#include <stddef.h>
#include <stdint.h>

#include "quillmorph.h"

/* Module.qmProgress(rows_done, rows_total) answers 0 to go on or non-zero
 * to stop, or a Promise of that answer: then the call is suspended
 * (Asyncify) until it settles, and the page or the worker runs its events,
 * an abort among them.  When the call resumes, this function is entered
 * again to rewind; Asyncify then hands back the answer, and JavaScript is
 * not asked twice. */
/* clang-format off */
EM_JS(int, qmjs_progress, (int rows_done, int rows_total), {
    var answer = null;
    if (Asyncify.state === Asyncify.State.Normal) {
        answer = Module["qmProgress"](rows_done, rows_total);
        if (typeof answer == "number") return answer;
    }
    return Asyncify.handleAsync(function() { return answer; });
})
/* clang-format on */

/* Module.qmStatus: the library's status codes by name, for the package's
 * JavaScript, which tells them apart to pick an error's kind. */
/* clang-format off */
EM_JS(void, qmjs_publish_statuses, (int ok, int argument, int size, int too_large, int no_memory,
                                    int cancelled, int sample), {
    Module["qmStatus"] = {
        ok: ok, argument: argument, size: size, tooLarge: too_large, noMemory: no_memory,
        cancelled: cancelled, sample: sample
    };
})
/* clang-format on */

EMSCRIPTEN_KEEPALIVE void qmjs_statuses(void) {
    qmjs_publish_statuses(QM_OK, QM_ERROR_ARGUMENT, QM_ERROR_SIZE, QM_ERROR_TOO_LARGE,
                          QM_ERROR_NO_MEMORY, QM_ERROR_CANCELLED, QM_ERROR_SAMPLE);
}

static int progress(void* user, int rows_done, int rows_total) {
    (void)user;
    return qmjs_progress(rows_done, rows_total);
}

/* The options of every call: the threads, the maxval, and the hook.  NULL
 * when out of memory or when an option is out of range, with the status in
 * *status. */
static qm_options* call_options(int threads, int maxval, int* status) {
    qm_options* options = qm_options_new();
    *status = QM_ERROR_NO_MEMORY;
    if (!options) return NULL;
    *status = qm_options_set_maxval(options, maxval);
    if (*status == QM_OK) *status = qm_options_set_threads(options, threads);
    if (*status != QM_OK) {
        qm_options_free(options);
        return NULL;
    }
    qm_options_set_progress(options, progress, NULL);
    return options;
}

/* qm_upscale or qm_upscale16 on a width x height image of samples of the
 * given width in bytes (1 or 2) at lr, into hr, rows without gaps, on the
 * given threads: 1 in a module built without threads, where a thread that
 * cannot start would abort it. */
EMSCRIPTEN_KEEPALIVE int qmjs_upscale(int sample_bytes, const void* lr, int width, int height,
                                      void* hr, int maxval, int threads) {
    int status;
    qm_options* options = call_options(threads, maxval, &status);
    const ptrdiff_t lr_stride = (ptrdiff_t)sample_bytes * width;
    if (!options) return status;
    if (sample_bytes == 1)
        status = qm_upscale((const unsigned char*)lr, width, height, lr_stride, (unsigned char*)hr,
                            2 * lr_stride, options);
    else
        status = qm_upscale16((const uint16_t*)lr, width, height, lr_stride, (uint16_t*)hr,
                              2 * lr_stride, options);
    qm_options_free(options);
    return status;
}

/* Bytes of the heap handed out by malloc and not yet freed. */
EMSCRIPTEN_KEEPALIVE size_t qmjs_heap_in_use(void) { return (size_t)mallinfo().uordblks; }
