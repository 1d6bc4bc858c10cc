// Aligned memory for the grid and the block stores.
#ifndef QUILLMORPH_PLATFORM_MEMORY_H
#define QUILLMORPH_PLATFORM_MEMORY_H

#include <cstddef>

namespace quillmorph {

// bytes of memory aligned to alignment (a power of two, at least
// sizeof(void*)), or nullptr; released with platform_aligned_free only.
void* platform_aligned_alloc(std::size_t alignment, std::size_t bytes);
void platform_aligned_free(void* memory);
// Asks for huge pages behind the range (Linux); a hint that may be ignored.
void platform_advise_huge_pages(void* memory, std::size_t bytes);

}  // namespace quillmorph

#endif
