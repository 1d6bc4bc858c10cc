// What a call of the package takes of the module's memory, and what the
// module may still have: the page and upscale() refuse an image that would
// not fit before they allocate or decode anything.
#include <emscripten/emscripten.h>
#include <emscripten/heap.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdint>

#include "interp/grid.h"
#include "interp/upscale.h"

using namespace quillmorph;

extern "C" {

// The heap bytes of a call on a width x height image of samples of the given
// width in bytes (1 or 2) with the given threads (0 for all): its input and
// output and the engine's working memory.  A double, since an image the
// module refuses may need more than 4 GB; -1 when the engine refuses the
// size whatever the memory.
EMSCRIPTEN_KEEPALIVE double qmjs_call_bytes(int sample_bytes, int width, int height, int threads) {
    const SampleFormat samples = {sample_bytes, sample_bytes == 1 ? 255 : 65535};
    const RunLayout layout = layout_for_threads(threads, width);
    if (!image_size_supported(width, height) || !rings_fit(width, height, samples, layout.rings))
        return -1;
    const double image_bytes = 5.0 * sample_bytes * width * height;  // the input and 4 times it
    return image_bytes + static_cast<double>(upscale_bytes(width, height, samples, layout));
}

// The bytes malloc may still hand out: the free blocks it holds and what the
// heap may still grow by.
EMSCRIPTEN_KEEPALIVE double qmjs_heap_room(void) {
    const auto top = reinterpret_cast<std::uintptr_t>(sbrk(0));
    return static_cast<double>(emscripten_get_heap_max() - top) +
           static_cast<double>(mallinfo().fordblks);
}

}  // extern "C"
