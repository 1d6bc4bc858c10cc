// The WebAssembly module's own calls, for the JavaScript package beside it
// (js/index.js): an upscale on the calling thread whose progress hook asks
// JavaScript whether to go on, and may let the event loop run meanwhile.
#include <emscripten.h>
#include <malloc.h>

#include "quillmorph.h"

// Module.qmProgress(rows_done, rows_total) answers 0 to go on or non-zero
// to stop, or a Promise of that answer: then the call is suspended
// (Asyncify) until it settles, and the page or the worker runs its events,
// an abort among them.  When the call resumes, this function is entered
// again to rewind; Asyncify then hands back the answer, and JavaScript is
// not asked twice.
EM_JS(int, qmjs_progress, (int rows_done, int rows_total), {
    var answer = null;
    if (Asyncify.state === Asyncify.State.Normal) {
        answer = Module["qmProgress"](rows_done, rows_total);
        if (typeof answer == "number") return answer;
    }
    return Asyncify.handleAsync(function() { return answer; });
});

namespace {

int progress(void*, int rows_done, int rows_total) { return qmjs_progress(rows_done, rows_total); }

// The options of every call: the calling thread alone (the module is built
// without threads), and the hook.
qm_options* call_options() {
    qm_options* options = qm_options_new();
    if (!options) return nullptr;
    qm_options_set_threads(options, 1);
    qm_options_set_progress(options, progress, nullptr);
    return options;
}

}  // namespace

extern "C" {

// qm_upscale on a width x height image at lr into hr, rows without gaps.
EMSCRIPTEN_KEEPALIVE int qmjs_upscale8(const unsigned char* lr, int width, int height,
                                       unsigned char* hr) {
    qm_options* options = call_options();
    if (!options) return QM_ERROR_NO_MEMORY;
    const int status = qm_upscale(lr, width, height, width, hr, 2 * width, options);
    qm_options_free(options);
    return status;
}

// Bytes of the heap handed out by malloc and not yet freed.
EMSCRIPTEN_KEEPALIVE size_t qmjs_heap_in_use(void) {
    return static_cast<size_t>(mallinfo().uordblks);
}

}  // extern "C"
