#include "interp/pass_area.h"

namespace quillmorph {

namespace {

constexpr RowSpan empty_span = {1, 0};

bool is_odd(int v) { return v % 2 != 0; }

}  // namespace

// Diagonal targets: odd rows 5..H2-7 by odd columns 5..W2-7.  Axial targets:
// odd rows 5..H2-7 by even columns 6..W2-8 (the first family), even rows
// 6..H2-8 by odd columns 5..W2-7 (the second).
RowSpan target_columns(Pass pass, int r, int w2, int h2) {
    if (pass == diagonal_pass)
        return is_odd(r) && r >= 5 && r <= h2 - 7 ? RowSpan{5, w2 - 7} : empty_span;
    if (is_odd(r)) return r >= 5 && r <= h2 - 7 ? RowSpan{6, w2 - 8} : empty_span;
    return r >= 6 && r <= h2 - 8 ? RowSpan{5, w2 - 7} : empty_span;
}

// Two cells inside the targets on every side.
RowSpan fused_columns(Pass pass, int r, int w2, int h2) {
    if (pass == diagonal_pass)
        return is_odd(r) && r >= 7 && r <= h2 - 9 ? RowSpan{7, w2 - 9} : empty_span;
    if (is_odd(r)) return r >= 7 && r <= h2 - 9 ? RowSpan{8, w2 - 10} : empty_span;
    return r >= 8 && r <= h2 - 10 ? RowSpan{7, w2 - 9} : empty_span;
}

}  // namespace quillmorph
