#include <new>

#include "api/options.h"
#include "interp/pixels.h"
#include "quillmorph.h"

extern "C" {

qm_options* qm_options_new(void) {
    return new (std::nothrow) qm_options(quillmorph::default_options);
}

void qm_options_free(qm_options* options) { delete options; }

int qm_options_set_threads(qm_options* options, int threads) {
    if (!options || threads < 0) return QM_ERROR_ARGUMENT;
    options->threads = threads;
    return QM_OK;
}

int qm_options_set_progress(qm_options* options, qm_progress_fn progress, void* user) {
    if (!options) return QM_ERROR_ARGUMENT;
    options->progress = progress;
    options->progress_user = progress ? user : nullptr;
    return QM_OK;
}

int qm_options_set_maxval(qm_options* options, int maxval) {
    if (!options || maxval < 1 || maxval > quillmorph::max_16bit_sample) return QM_ERROR_ARGUMENT;
    options->maxval = maxval;
    return QM_OK;
}

}  // extern "C"
