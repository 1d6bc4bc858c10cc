// What a qm_options holds.  The struct is opaque to callers, so that
// settings can be added without breaking them.
#ifndef QUILLMORPH_API_OPTIONS_H
#define QUILLMORPH_API_OPTIONS_H

#include "quillmorph.h"

struct qm_options {
    int threads;  // 0: every processor the process may use
    qm_progress_fn progress;
    void* progress_user;
    int maxval;  // 0: the largest value of the call's samples
};

namespace quillmorph {

// The settings a call runs with when it is given none.
constexpr qm_options default_options = {0, nullptr, nullptr, 0};

}  // namespace quillmorph

#endif
