// Aligned allocation: Windows, POSIX, or std::aligned_alloc.
#include "platform/memory.h"

#include <cstdlib>

#if defined(_WIN32)
#include <malloc.h>
#endif
#if defined(QUILLMORPH_HAVE_MADV_HUGEPAGE)
#include <sys/mman.h>
#endif

namespace quillmorph {

void* platform_aligned_alloc(std::size_t alignment, std::size_t bytes) {
    if (bytes == 0) bytes = 1;
#if defined(_WIN32)
    return _aligned_malloc(bytes, alignment);
#elif defined(QUILLMORPH_HAVE_POSIX_MEMALIGN)
    void* memory = nullptr;
    return posix_memalign(&memory, alignment, bytes) == 0 ? memory : nullptr;
#else
    // std::aligned_alloc wants a size that is a multiple of the alignment.
    const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    if (rounded < bytes) return nullptr;
    return std::aligned_alloc(alignment, rounded);
#endif
}

void platform_aligned_free(void* memory) {
#if defined(_WIN32)
    _aligned_free(memory);
#else
    std::free(memory);
#endif
}

void platform_advise_huge_pages(void* memory, std::size_t bytes) {
#if defined(QUILLMORPH_HAVE_MADV_HUGEPAGE)
    madvise(memory, bytes, MADV_HUGEPAGE);  // a hint; failure is harmless
#else
    (void)memory;
    (void)bytes;
#endif
}

}  // namespace quillmorph
