// A batch of eight systems on the vector unit this file is compiled for.
//
// The vector kernels (interp/vector_kernels.cpp) are compiled once per vector
// unit, each time with its pack width: the doubles one vector register holds
// (1 for the generic copy, 2 for SSE2, NEON and WebAssembly, 4 for AVX2, 8
// for AVX-512).  A Batch is then batch_size / width packs, and every
// operation on it runs over the packs innermost: the packs are independent
// systems, so their instructions hide each other's latency, and no value is
// wider than a register.  A system's element is lane (k, w) = element
// k * width + w of the batch_entry it is stored in, whatever the width.
//
// Comparisons give masks the width's own compare instructions make, and
// row numbers are held as doubles: every unit compares and selects doubles
// natively, while 64-bit integer compares are missing from SSE2 and a
// per-lane shift from all but the widest.
//
// Everything here lives in the kernel's own namespace, so that the copies of
// different units never meet in the linker.
#ifndef QUILLMORPH_LINALG_BATCH_H
#define QUILLMORPH_LINALG_BATCH_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "linalg/elimination.h"
#include "linalg/solve_batch.h"

#if !defined(QUILLMORPH_KERNEL_NAMESPACE) || !defined(QUILLMORPH_PACK_WIDTH)
#error "linalg/batch.h is for the vector kernels, compiled once per vector unit"
#endif

namespace quillmorph {
namespace QUILLMORPH_KERNEL_NAMESPACE {

using elimination::exponent_bits;
using elimination::sign_bit;

constexpr std::size_t pack_width = QUILLMORPH_PACK_WIDTH;
constexpr std::size_t packs = batch_size / pack_width;
static_assert(packs * pack_width == batch_size, "a batch is whole packs");

typedef double Pack __attribute__((vector_size(pack_width * sizeof(double))));
typedef std::int64_t PackMask __attribute__((vector_size(pack_width * sizeof(std::int64_t))));
typedef std::uint64_t PackBits __attribute__((vector_size(pack_width * sizeof(std::uint64_t))));

// A batch's packs.  Copied pack by pack: GCC copies a whole struct in
// pieces of 16 bytes, through the stack, and the wider loads that follow
// wait for those stores (AVX2's solves took half as long again).
template <class P>
struct Packs {
    P pack[packs];

    Packs() = default;
    QUILLMORPH_INLINE Packs(const Packs& other) { *this = other; }
    QUILLMORPH_INLINE Packs& operator=(const Packs& other) {
        for (std::size_t k = 0; k < packs; ++k) pack[k] = other.pack[k];
        return *this;
    }
};

// One entry of the eight systems; a mask per system (all ones where true);
// the bits of each system's double.
using Batch = Packs<Pack>;
using BatchMask = Packs<PackMask>;
using BatchBits = Packs<PackBits>;
static_assert(sizeof(Batch) == sizeof(batch_entry), "a batch is stored as a batch_entry");

// The batches a batch_entry array holds.  The kernels are compiled without
// strict aliasing, so that the two types may name the same memory.
QUILLMORPH_INLINE Batch* batches(batch_entry* entries) { return reinterpret_cast<Batch*>(entries); }
QUILLMORPH_INLINE const Batch* batches(const batch_entry* entries) {
    return reinterpret_cast<const Batch*>(entries);
}

// Out with out.pack[k] = f(k), for every pack.
template <class Out, class F>
QUILLMORPH_INLINE Out each_pack(F f) {
    Out out;
    for (std::size_t k = 0; k < packs; ++k) out.pack[k] = f(k);
    return out;
}

QUILLMORPH_INLINE Batch broadcast(double x) {
    return each_pack<Batch>([x](std::size_t) QUILLMORPH_INLINE_LAMBDA { return Pack{} + x; });
}

// ---- Arithmetic, each element rounded on its own ---------------------------

#define QUILLMORPH_BATCH_OPERATOR(Type, Other, op, x_k, y_k)                                \
    QUILLMORPH_INLINE Type operator op(const Type& x, const Other& y) {                     \
        return each_pack<Type>([&](std::size_t k) QUILLMORPH_INLINE_LAMBDA { return x_k op y_k; }); \
    }
QUILLMORPH_BATCH_OPERATOR(Batch, Batch, +, x.pack[k], y.pack[k])
QUILLMORPH_BATCH_OPERATOR(Batch, Batch, -, x.pack[k], y.pack[k])
QUILLMORPH_BATCH_OPERATOR(Batch, Batch, *, x.pack[k], y.pack[k])
QUILLMORPH_BATCH_OPERATOR(Batch, Batch, /, x.pack[k], y.pack[k])
QUILLMORPH_BATCH_OPERATOR(Batch, double, +, x.pack[k], y)
QUILLMORPH_BATCH_OPERATOR(BatchBits, BatchBits, &, x.pack[k], y.pack[k])
QUILLMORPH_BATCH_OPERATOR(BatchBits, BatchBits, |, x.pack[k], y.pack[k])
QUILLMORPH_BATCH_OPERATOR(BatchBits, std::uint64_t, &, x.pack[k], y)
QUILLMORPH_BATCH_OPERATOR(BatchBits, std::uint64_t, ^, x.pack[k], y)
QUILLMORPH_BATCH_OPERATOR(BatchBits, std::uint64_t, +, x.pack[k], y)
QUILLMORPH_BATCH_OPERATOR(BatchBits, std::uint64_t, -, x.pack[k], y)
QUILLMORPH_BATCH_OPERATOR(BatchBits, BatchBits, -, x.pack[k], y.pack[k])
QUILLMORPH_BATCH_OPERATOR(BatchMask, BatchMask, &, x.pack[k], y.pack[k])
#undef QUILLMORPH_BATCH_OPERATOR

QUILLMORPH_INLINE Batch& operator+=(Batch& x, const Batch& y) { return x = x + y; }
QUILLMORPH_INLINE Batch& operator+=(Batch& x, double y) { return x = x + y; }
QUILLMORPH_INLINE BatchBits& operator|=(BatchBits& x, const BatchBits& y) { return x = x | y; }
QUILLMORPH_INLINE BatchBits operator~(const BatchBits& x) {
    return each_pack<BatchBits>([&](std::size_t k) QUILLMORPH_INLINE_LAMBDA { return ~x.pack[k]; });
}

// ---- Comparisons and selections ---------------------------------------------

QUILLMORPH_INLINE BatchMask greater(const Batch& x, const Batch& y) {
    return each_pack<BatchMask>(
        [&](std::size_t k) QUILLMORPH_INLINE_LAMBDA { return x.pack[k] > y.pack[k]; });
}
QUILLMORPH_INLINE BatchMask differ(const Batch& x, const Batch& y) {
    return each_pack<BatchMask>(
        [&](std::size_t k) QUILLMORPH_INLINE_LAMBDA { return x.pack[k] != y.pack[k]; });
}
QUILLMORPH_INLINE BatchMask nonzero(const Batch& x) { return differ(x, Batch{}); }

// Row numbers: which systems have row k, or a row above it.
QUILLMORPH_INLINE BatchMask row_is(const Batch& rows, std::size_t k) {
    const double row = static_cast<double>(k);
    return each_pack<BatchMask>(
        [&](std::size_t p) QUILLMORPH_INLINE_LAMBDA { return rows.pack[p] == row; });
}
QUILLMORPH_INLINE BatchMask row_above(const Batch& rows, std::size_t k) {
    const double row = static_cast<double>(k);
    return each_pack<BatchMask>(
        [&](std::size_t p) QUILLMORPH_INLINE_LAMBDA { return rows.pack[p] < row; });
}
QUILLMORPH_INLINE Batch row_number(std::size_t k, const Batch& /*like*/) {
    return broadcast(static_cast<double>(k));
}

QUILLMORPH_INLINE Batch select(const BatchMask& take, const Batch& x, const Batch& y) {
    return each_pack<Batch>(
        [&](std::size_t k) QUILLMORPH_INLINE_LAMBDA { return take.pack[k] ? x.pack[k] : y.pack[k]; });
}

QUILLMORPH_INLINE bool any(const BatchMask& m) {
    PackMask all = m.pack[0];
    for (std::size_t k = 1; k < packs; ++k) all |= m.pack[k];
    std::int64_t any = 0;
    for (std::size_t w = 0; w < pack_width; ++w) any |= all[w];
    return any != 0;
}

// ---- Bits --------------------------------------------------------------------

// A cast between vector types of one size keeps the bits, pack by pack: a
// copy of the whole batch's bytes went through the stack in halves, and the
// wider loads that followed waited for them.
QUILLMORPH_INLINE BatchBits bits_of(const Batch& v) {
    return each_pack<BatchBits>(
        [&](std::size_t k) QUILLMORPH_INLINE_LAMBDA { return (PackBits)v.pack[k]; });
}
QUILLMORPH_INLINE Batch value_of(const BatchBits& bits) {
    return each_pack<Batch>(
        [&](std::size_t k) QUILLMORPH_INLINE_LAMBDA { return (Pack)bits.pack[k]; });
}

QUILLMORPH_INLINE Batch magnitude(const Batch& v) { return value_of(bits_of(v) & ~sign_bit); }

// Flags held in the top bit of each system's word.
QUILLMORPH_INLINE bool any_flag(const BatchBits& flags) {
    PackBits all = flags.pack[0];
    for (std::size_t k = 1; k < packs; ++k) all |= flags.pack[k];
    std::uint64_t any = 0;
    for (std::size_t w = 0; w < pack_width; ++w) any |= all[w];
    return (any & sign_bit) != 0;
}
// Bit l set when system l carries no flag.
QUILLMORPH_INLINE std::uint32_t systems_without(const BatchBits& flags) {
    std::uint32_t clear = 0;
    for (std::size_t k = 0; k < packs; ++k)
        for (std::size_t w = 0; w < pack_width; ++w)
            if ((flags.pack[k][w] & sign_bit) == 0) clear |= 1u << (k * pack_width + w);
    return clear;
}

// ---- The elimination's steps for a batch (linalg/elimination.h) --------------

// Entry (r, c) of every system, r its own row: gathered by selection.
QUILLMORPH_INLINE Batch gather(const Batch* v, std::size_t rows, std::size_t stride, const Batch& r,
                               std::size_t c) {
    Batch x = {};
    for (std::size_t k = 0; k < rows; ++k) x = select(row_is(r, k), v[k * stride + c], x);
    return x;
}
QUILLMORPH_INLINE Batch entry(const Batch* a, std::size_t n, const Batch& r, std::size_t c) {
    return gather(a, n, n, r, c);
}

QUILLMORPH_INLINE std::size_t first_candidate(const Batch&) { return 1; }
QUILLMORPH_INLINE Batch candidate(const Batch* a, std::size_t n, const Batch& r, std::size_t k,
                                  std::size_t j) {
    return select(row_above(r, k), a[k * n + j], Batch{});
}

// Exchanges rows r and h and divides the pivot row and its right-hand side
// by p, in the systems where found holds: every row is rewritten by
// selection, and the pivot row is kept on the side.
QUILLMORPH_INLINE elimination::PivotRow<Batch> take_pivot_row(Batch* a, Batch* b, std::size_t n,
                                                              std::size_t j, const Batch& r,
                                                              const Batch& h, const Batch& p,
                                                              const BatchMask& found,
                                                              Batch* pivot_row) {
    // Row -1 is no row: systems without a pivot store nothing.
    const Batch none = broadcast(-1.0);
    const Batch pivot_at = select(found, r, none);
    const Batch exchange_at = select(found & differ(h, r), h, none);
    const auto place = [&](Batch* v, std::size_t stride, std::size_t c,
                           const Batch& pivot) QUILLMORPH_INLINE_LAMBDA {
        const Batch displaced = gather(v, n, stride, r, c);
        for (std::size_t k = 0; k < n; ++k) {
            Batch& e = v[k * stride + c];
            e = select(row_is(exchange_at, k), displaced, e);
            e = select(row_is(pivot_at, k), pivot, e);
        }
    };
    const Batch pivot_b = elimination::divide(gather(b, n, 1, h, 0), p);
    for (std::size_t c = 0; c < n; ++c) {
        Batch pivot = entry(a, n, h, c);
        if (c >= j) pivot = elimination::divide(pivot, p);
        pivot_row[c] = pivot;
        place(a, n, c, pivot);
    }
    place(b, 1, 0, pivot_b);
    return {pivot_row, pivot_b};
}

QUILLMORPH_INLINE bool column_skipped(const BatchMask&) { return false; }  // selections instead
QUILLMORPH_INLINE bool skipped(std::size_t, const Batch&) { return false; }
QUILLMORPH_INLINE BatchMask cleared(const BatchMask& found, const Batch& r, std::size_t i) {
    return found & differ(r, broadcast(static_cast<double>(i)));
}
QUILLMORPH_INLINE bool rows_left(const Batch&, std::size_t) { return true; }

}  // namespace QUILLMORPH_KERNEL_NAMESPACE
}  // namespace quillmorph

#endif
