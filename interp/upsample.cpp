// Initial upsampling with the separable 4-tap filter (-1, 9, 9, -1) / 16.
//
// The filter runs down the even columns onto the odd rows, then along every
// row onto the odd columns; the last column copies its left neighbour and
// the last row the row above it.  A grid row is thus made from the LR rows
// around it alone, one row at a time.
//
// Every value the filter sees is a whole number or a multiple of 1/16, and
// every value it makes a multiple of 1/16 or 1/256, all exact in double
// precision for samples up to 65535: the order in which the taps are added
// cannot change a result.
#include "interp/upsample.h"

#include <cstddef>

namespace quillmorph {

namespace {

constexpr double inner_tap_weight = 9.0;
constexpr double filter_scale = 0.0625;  // 1/16, the sum of the taps

// a and b are the taps at distance 1, o1 and o2 those at distance 3; the
// result is clamped to 0..maxval.
double filter_tap(double a, double b, double o1, double o2, double maxval) {
    const double f = (inner_tap_weight * (a + b) - o1 - o2) * filter_scale;
    if (f < 0.0) return 0.0;
    if (f > maxval) return maxval;
    return f;
}

// Of the odd positions 1, 3, ..., 2n - 3 of a line whose even positions
// 0, 2, ..., 2n - 2 are known, the neighbours at distance 3 that the filter
// takes for position t: at the first and the last one, one would fall
// outside the line, and the other one is used twice instead.
int before_of(int t) { return t == 1 ? t + 3 : t - 3; }
int after_of(int t, int n) { return t == 2 * n - 3 ? t - 3 : t + 3; }

template <typename Sample>
const Sample* lr_row(const Sample* lr, int w, int lr_rows, int i) {
    return lr + static_cast<std::ptrdiff_t>(i % lr_rows) * w;
}

// A row whose even positions are known: the filter along it onto its odd
// columns, and the last column's copy.
void filter_along_row(double* row, int w, double maxval) {
    for (int t = 1; t <= 2 * w - 3; t += 2)
        row[t] = filter_tap(row[t - 1], row[t + 1], row[before_of(t)], row[after_of(t, w)], maxval);
    row[2 * w - 1] = row[2 * w - 2];
}

}  // namespace

template <typename Sample>
void upsample_row(int w, int h, const Sample* lr, int lr_rows, int r, double maxval, double* out) {
    const int last_row = 2 * h - 1;
    if (r == last_row) r = last_row - 1;  // the last row copies the row above it
    if (r % 2 == 0) {
        // An LR row, at the even columns.
        const Sample* pixels = lr_row(lr, w, lr_rows, r / 2);
        for (int j = 0; j < w; ++j) out[2 * j] = pixels[j];
    } else {
        // Down the even columns: LR rows at HR rows r - 1, r + 1 and the
        // two at distance 3.
        const Sample* a = lr_row(lr, w, lr_rows, (r - 1) / 2);
        const Sample* b = lr_row(lr, w, lr_rows, (r + 1) / 2);
        const Sample* o1 = lr_row(lr, w, lr_rows, before_of(r) / 2);
        const Sample* o2 = lr_row(lr, w, lr_rows, after_of(r, h) / 2);
        for (int j = 0; j < w; ++j) out[2 * j] = filter_tap(a[j], b[j], o1[j], o2[j], maxval);
    }
    filter_along_row(out, w, maxval);
}

template <typename Sample>
void upsample_initial(int w, const Sample* lr, double* grid, int h, double maxval) {
    for (int r = 0; r < 2 * h; ++r)
        upsample_row(w, h, lr, h, r, maxval, grid + static_cast<std::ptrdiff_t>(r) * 2 * w);
}

template void upsample_row(int, int, const unsigned char*, int, int, double, double*);
template void upsample_row(int, int, const std::uint16_t*, int, int, double, double*);
template void upsample_initial(int, const unsigned char*, double*, int, double);
template void upsample_initial(int, const std::uint16_t*, double*, int, double);

}  // namespace quillmorph
