#include "interp/grid.h"

#include <climits>
#include <cstdint>

#include "platform/platform.h"

namespace {

// Bytes per LR pixel of the largest buffer a run allocates: the axial block
// store keeps 25 doubles for each of the 4 HR cells of an LR pixel.
constexpr std::size_t max_bytes_per_lr_pixel = 4 * 25 * sizeof(double);

constexpr std::size_t huge_page_bytes = std::size_t{2} << 20;  // x86-64's and ARM64's 2 MiB pages
// Small buffers: a cache line, so that no two threads' buffers share one.
constexpr std::size_t small_buffer_alignment = 64;

}  // namespace

int image_size_supported(int w, int h) {
    if (w < min_image_side || h < min_image_side) return 0;
    if (w > INT_MAX / 2 || h > INT_MAX / 2) return 0;  // 2w and 2h must fit an int
    const std::size_t pixels_limit = SIZE_MAX / max_bytes_per_lr_pixel;
    if (static_cast<std::size_t>(w) > pixels_limit / static_cast<std::size_t>(h)) return 0;
    return 1;
}

std::size_t lr_pixel_count(int w, int h) {
    return static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
}

std::size_t hr_cell_count(int w, int h) { return 4 * lr_pixel_count(w, h); }

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
