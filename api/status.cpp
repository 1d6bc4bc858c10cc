// The version of the library, the texts of its status codes, and the vector
// code it runs.
#include "quillmorph.h"

#include "interp/vector_kernels.h"

#define QUILLMORPH_STRINGIFY_(x) #x
#define QUILLMORPH_STRINGIFY(x) QUILLMORPH_STRINGIFY_(x)

extern "C" {

int qm_version_number(void) { return QUILLMORPH_VERSION_NUMBER; }

const char* qm_version_string(void) {
    return QUILLMORPH_STRINGIFY(QUILLMORPH_VERSION_MAJOR) "." QUILLMORPH_STRINGIFY(
        QUILLMORPH_VERSION_MINOR) "." QUILLMORPH_STRINGIFY(QUILLMORPH_VERSION_PATCH);
}

const char* qm_status_string(int status) {
    switch (status) {
        case QM_OK:
            return "Success.";
        case QM_ERROR_ARGUMENT:
            return "Invalid argument: a null pointer, a stride shorter than its row, overlapping "
                   "input and output, or an option value out of range.";
        case QM_ERROR_SIZE:
            return "Unsupported image size: each side must be 3 pixels or more.";
        case QM_ERROR_TOO_LARGE:
            return "The image is too large to process.";
        case QM_ERROR_NO_MEMORY:
            return "Not enough memory.";
        case QM_ERROR_READ:
            return "An input row could not be read.";
        case QM_ERROR_WRITE:
            return "An output row could not be written.";
        case QM_ERROR_CANCELLED:
            return "Cancelled by the progress callback.";
        case QM_ERROR_SAMPLE:
            return "A sample of the input lies above the maxval.";
        case QM_ERROR_VECTOR_TARGET:
            return "QUILLMORPH_CPU names vector code that is unknown or that this processor "
                   "cannot run (avx512, avx2, sse2, neon, wasm-simd128 or generic, as the "
                   "processor allows).";
        default:
            return "Unknown status code.";
    }
}

const char* qm_vector_target(void) { return quillmorph::vector_target_name(); }

}  // extern "C"
