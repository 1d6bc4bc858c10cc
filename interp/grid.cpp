#include "interp/grid.h"

#include <climits>
#include <cstdint>

#include "platform/memory.h"

namespace quillmorph {

namespace {

constexpr std::size_t huge_page_bytes = std::size_t{2} << 20;  // x86-64's and ARM64's 2 MiB pages
// Small buffers: a cache line, so that no two threads' buffers share one.
constexpr std::size_t small_buffer_alignment = 64;

}  // namespace

int image_size_supported(int w, int h) {
    if (w < min_image_side || h < min_image_side) return 0;
    if (w > INT_MAX / 2 || h > INT_MAX / 2) return 0;  // 2w and 2h must fit an int
    return 1;
}

std::size_t lr_pixel_count(int w, int h) {
    const std::size_t width = static_cast<std::size_t>(w), height = static_cast<std::size_t>(h);
    return width > SIZE_MAX / height ? SIZE_MAX : width * height;
}

std::size_t hr_cell_count(int w, int h) {
    const std::size_t pixels = lr_pixel_count(w, h);
    return pixels > SIZE_MAX / 4 ? SIZE_MAX : 4 * pixels;
}

double* allocate_doubles(std::size_t count) {
    if (count > SIZE_MAX / sizeof(double)) return nullptr;
    const std::size_t bytes = count * sizeof(double);
    if (bytes < huge_page_bytes)
        return static_cast<double*>(platform_aligned_alloc(small_buffer_alignment, bytes));
    const std::size_t rounded = (bytes + huge_page_bytes - 1) / huge_page_bytes * huge_page_bytes;
    if (rounded < bytes) return nullptr;
    void* memory = platform_aligned_alloc(huge_page_bytes, rounded);
    if (memory) platform_advise_huge_pages(memory, rounded);
    return static_cast<double*>(memory);
}

void free_doubles(double* memory) { platform_aligned_free(memory); }

}  // namespace quillmorph
