// The estimators' geometry as the tests state it, from its formulas, so
// that it checks the engine's tables (interp/lattice.h) instead of reusing
// them.
#ifndef QUILLMORPH_TESTS_TEST_GEOMETRY_H
#define QUILLMORPH_TESTS_TEST_GEOMETRY_H

#include <cstdlib>

namespace quillmorph {

// The 36 known cells an estimator reads, as offsets from its target: LR
// samples at odd offsets up to 5 on the diagonal lattice, cells at
// city-block distance 1, 3 or 5 on the axial one.
inline bool in_diagonal_window(int dr, int dc) {
    return std::abs(dr) % 2 == 1 && std::abs(dc) % 2 == 1 && std::abs(dr) <= 5 && std::abs(dc) <= 5;
}

inline bool in_axial_window(int dr, int dc) {
    const int distance = std::abs(dr) + std::abs(dc);
    return distance == 1 || distance == 3 || distance == 5;
}

// The inner 3 x 3 elements of a 5 x 5 block, the ones a fusion reads.
constexpr int inner_block_elements[9] = {6, 7, 8, 11, 12, 13, 16, 17, 18};

}  // namespace quillmorph

#endif
