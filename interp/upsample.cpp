// Initial upsampling with the separable 4-tap filter (-1, 9, 9, -1) / 16.
//
// Every value the filter sees is a whole number or a multiple of 1/16, and
// every value it makes a multiple of 1/16 or 1/256, all exact in double
// precision: the order in which the taps are added cannot change a result.
#include "interp/upsample.h"

#include <cstddef>

namespace {

constexpr double inner_tap_weight = 9.0;
constexpr double filter_scale = 0.0625;  // 1/16, the sum of the taps
constexpr double pixel_min = 0.0;
constexpr double pixel_max = 255.0;

// a and b are the taps at distance 1, o1 and o2 those at distance 3.
double filter_tap(double a, double b, double o1, double o2) {
    const double f = (inner_tap_weight * (a + b) - o1 - o2) * filter_scale;
    if (f < pixel_min) return pixel_min;
    if (f > pixel_max) return pixel_max;
    return f;
}

// Filters the odd positions 1, 3, ..., 2n - 3 of one line of the grid,
// whose even positions 0, 2, ..., 2n - 2 are known; step is the distance
// between neighbouring positions in memory.  At the first and the last
// target one outer tap would fall outside the line, and the other one is
// used twice instead.
void filter_line(double* line, std::ptrdiff_t step, int n) {
    const int last = 2 * n - 3;
    for (int t = 1; t <= last; t += 2) {
        const double a = line[(t - 1) * step];
        const double b = line[(t + 1) * step];
        const double before = line[(t == 1 ? t + 3 : t - 3) * step];
        const double after = line[(t == last ? t - 3 : t + 3) * step];
        line[t * step] = filter_tap(a, b, before, after);
    }
}

}  // namespace

void upsample_initial(int w, const unsigned char* lr, double* grid, int h) {
    const std::ptrdiff_t w2 = 2 * static_cast<std::ptrdiff_t>(w);
    const std::ptrdiff_t h2 = 2 * static_cast<std::ptrdiff_t>(h);

    // 1. The LR pixels at the (even, even) positions.
    for (std::ptrdiff_t i = 0; i < h; ++i)
        for (std::ptrdiff_t j = 0; j < w; ++j) grid[2 * i * w2 + 2 * j] = lr[i * w + j];

    // 2. Down the even columns, onto the odd rows 1 .. 2h - 3.
    for (std::ptrdiff_t c = 0; c < w2; c += 2) filter_line(grid + c, w2, h);

    // 3. Along every row but the last, onto the odd columns 1 .. 2w - 3; the
    //    last column copies its left neighbour.
    for (std::ptrdiff_t r = 0; r < h2 - 1; ++r) {
        double* row = grid + r * w2;
        filter_line(row, 1, w);
        row[w2 - 1] = row[w2 - 2];
    }

    // 4. The last row copies the row above it.
    double* last_row = grid + (h2 - 1) * w2;
    for (std::ptrdiff_t c = 0; c < w2; ++c) last_row[c] = last_row[c - w2];
}
