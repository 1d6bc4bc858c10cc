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

// N packs of systems.  Copied pack by pack: GCC copies a whole struct in
// pieces of 16 bytes, through the stack, and the wider loads that follow
// wait for those stores (AVX2's solves took half as long again).
template <class P, std::size_t N>
struct Packs {
    static constexpr std::size_t count = N;
    P pack[N];

    Packs() = default;
    QUILLMORPH_INLINE Packs(const Packs& other) { copy(other); }
    // Pack by pack: a copy onto itself is harmless, and a test for it would
    // be a branch in the kernels' every assignment.
    // NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
    QUILLMORPH_INLINE Packs& operator=(const Packs& other) {
        copy(other);
        return *this;
    }

   private:
    QUILLMORPH_INLINE void copy(const Packs& other) {
        for (std::size_t k = 0; k < N; ++k) pack[k] = other.pack[k];
    }
};

// One pack copies as the vector it is, trivially: selections between such
// values then stay selections, where a copy of its own made GCC branch.
template <class P>
struct Packs<P, 1> {
    static constexpr std::size_t count = 1;
    P pack[1];
};

// Values, masks (all ones where true) and the bits of values, for N packs:
// a whole batch, or the systems of one pack on their own.
template <std::size_t N>
using Values = Packs<Pack, N>;
template <std::size_t N>
using Masks = Packs<PackMask, N>;
template <std::size_t N>
using Bits = Packs<PackBits, N>;

// One entry of the eight systems, and its masks and bits.
using Batch = Values<packs>;
using BatchMask = Masks<packs>;
using BatchBits = Bits<packs>;
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
    for (std::size_t k = 0; k < Out::count; ++k) out.pack[k] = f(k);
    return out;
}

template <std::size_t N = packs>
QUILLMORPH_INLINE Values<N> broadcast(double x) {
    return each_pack<Values<N>>([x](std::size_t) QUILLMORPH_INLINE_LAMBDA { return Pack{} + x; });
}

// ---- Arithmetic, each element rounded on its own ---------------------------

#define QUILLMORPH_PACKS_OPERATOR(Type, Other, op, x_k, y_k)                         \
    template <std::size_t N>                                                         \
    QUILLMORPH_INLINE Type operator op(const Type& x, const Other& y) {              \
        return each_pack<Type>([&](std::size_t k)                                    \
                                   QUILLMORPH_INLINE_LAMBDA { return x_k op y_k; }); \
    }
QUILLMORPH_PACKS_OPERATOR(Values<N>, Values<N>, +, x.pack[k], y.pack[k])
QUILLMORPH_PACKS_OPERATOR(Values<N>, Values<N>, -, x.pack[k], y.pack[k])
QUILLMORPH_PACKS_OPERATOR(Values<N>, Values<N>, *, x.pack[k], y.pack[k])
QUILLMORPH_PACKS_OPERATOR(Values<N>, Values<N>, /, x.pack[k], y.pack[k])
QUILLMORPH_PACKS_OPERATOR(Values<N>, double, +, x.pack[k], y)
QUILLMORPH_PACKS_OPERATOR(Bits<N>, Bits<N>, &, x.pack[k], y.pack[k])
QUILLMORPH_PACKS_OPERATOR(Bits<N>, Bits<N>, |, x.pack[k], y.pack[k])
QUILLMORPH_PACKS_OPERATOR(Bits<N>, std::uint64_t, &, x.pack[k], y)
QUILLMORPH_PACKS_OPERATOR(Bits<N>, std::uint64_t, ^, x.pack[k], y)
QUILLMORPH_PACKS_OPERATOR(Bits<N>, std::uint64_t, +, x.pack[k], y)
QUILLMORPH_PACKS_OPERATOR(Bits<N>, std::uint64_t, -, x.pack[k], y)
QUILLMORPH_PACKS_OPERATOR(Bits<N>, Bits<N>, -, x.pack[k], y.pack[k])
QUILLMORPH_PACKS_OPERATOR(Masks<N>, Masks<N>, &, x.pack[k], y.pack[k])
#undef QUILLMORPH_PACKS_OPERATOR

template <std::size_t N>
QUILLMORPH_INLINE Values<N>& operator+=(Values<N>& x, const Values<N>& y) {
    return x = x + y;
}
template <std::size_t N>
QUILLMORPH_INLINE Values<N>& operator+=(Values<N>& x, double y) {
    return x = x + y;
}
template <std::size_t N>
QUILLMORPH_INLINE Bits<N>& operator|=(Bits<N>& x, const Bits<N>& y) {
    return x = x | y;
}
template <std::size_t N>
QUILLMORPH_INLINE Bits<N> operator~(const Bits<N>& x) {
    return each_pack<Bits<N>>([&](std::size_t k) QUILLMORPH_INLINE_LAMBDA { return ~x.pack[k]; });
}

// ---- Comparisons and selections ---------------------------------------------

template <std::size_t N>
QUILLMORPH_INLINE Masks<N> greater(const Values<N>& x, const Values<N>& y) {
    return each_pack<Masks<N>>([&](std::size_t k)
                                   QUILLMORPH_INLINE_LAMBDA { return x.pack[k] > y.pack[k]; });
}
template <std::size_t N>
QUILLMORPH_INLINE Masks<N> differ(const Values<N>& x, const Values<N>& y) {
    return each_pack<Masks<N>>([&](std::size_t k)
                                   QUILLMORPH_INLINE_LAMBDA { return x.pack[k] != y.pack[k]; });
}
template <std::size_t N>
QUILLMORPH_INLINE Masks<N> nonzero(const Values<N>& x) {
    return differ(x, Values<N>{});
}

// Row numbers: which systems have row k, or a row above it.
template <std::size_t N>
QUILLMORPH_INLINE Masks<N> row_is(const Values<N>& rows, std::size_t k) {
    const double row = static_cast<double>(k);
    return each_pack<Masks<N>>([&](std::size_t p)
                                   QUILLMORPH_INLINE_LAMBDA { return rows.pack[p] == row; });
}
template <std::size_t N>
QUILLMORPH_INLINE Masks<N> row_above(const Values<N>& rows, std::size_t k) {
    const double row = static_cast<double>(k);
    return each_pack<Masks<N>>([&](std::size_t p)
                                   QUILLMORPH_INLINE_LAMBDA { return rows.pack[p] < row; });
}
template <std::size_t N>
QUILLMORPH_INLINE Values<N> row_number(std::size_t k, const Values<N>& /*like*/) {
    return broadcast<N>(static_cast<double>(k));
}

template <std::size_t N>
QUILLMORPH_INLINE Values<N> select(const Masks<N>& take, const Values<N>& x, const Values<N>& y) {
    return each_pack<Values<N>>([&](std::size_t k) QUILLMORPH_INLINE_LAMBDA {
        return take.pack[k] ? x.pack[k] : y.pack[k];
    });
}

// The bitwise or of every element.
template <class P, std::size_t N>
QUILLMORPH_INLINE std::uint64_t or_of(const Packs<P, N>& v) {
    P all = v.pack[0];
    for (std::size_t k = 1; k < N; ++k) all |= v.pack[k];
    std::uint64_t any = 0;
    for (std::size_t w = 0; w < pack_width; ++w) any |= static_cast<std::uint64_t>(all[w]);
    return any;
}

template <std::size_t N>
QUILLMORPH_INLINE bool any(const Masks<N>& m) {
    return or_of(m) != 0;
}

// ---- Bits --------------------------------------------------------------------

// A cast between vector types of one size keeps the bits, pack by pack: a
// copy of the whole batch's bytes went through the stack in halves, and the
// wider loads that followed waited for them.
template <std::size_t N>
QUILLMORPH_INLINE Bits<N> bits_of(const Values<N>& v) {
    return each_pack<Bits<N>>([&](std::size_t k)
                                  QUILLMORPH_INLINE_LAMBDA { return (PackBits)v.pack[k]; });
}
template <std::size_t N>
QUILLMORPH_INLINE Values<N> value_of(const Bits<N>& bits) {
    return each_pack<Values<N>>([&](std::size_t k)
                                    QUILLMORPH_INLINE_LAMBDA { return (Pack)bits.pack[k]; });
}

template <std::size_t N>
QUILLMORPH_INLINE Values<N> magnitude(const Values<N>& v) {
    return value_of(bits_of(v) & ~sign_bit);
}

// Flags held in the top bit of each system's word.
template <std::size_t N>
QUILLMORPH_INLINE bool any_flag(const Bits<N>& flags) {
    return (or_of(flags) & sign_bit) != 0;
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
template <std::size_t N>
QUILLMORPH_INLINE Values<N> gather(const Values<N>* v, std::size_t rows, std::size_t stride,
                                   const Values<N>& r, std::size_t c) {
    Values<N> x = {};
    for (std::size_t k = 0; k < rows; ++k) x = select(row_is(r, k), v[k * stride + c], x);
    return x;
}
template <std::size_t N>
QUILLMORPH_INLINE Values<N> entry(const Values<N>* a, std::size_t n, const Values<N>& r,
                                  std::size_t c) {
    return gather(a, n, n, r, c);
}

template <std::size_t N>
QUILLMORPH_INLINE std::size_t first_candidate(const Values<N>&) {
    return 1;
}
template <std::size_t N>
QUILLMORPH_INLINE Values<N> candidate(const Values<N>* a, std::size_t n, const Values<N>& r,
                                      std::size_t k, std::size_t j) {
    return select(row_above(r, k), a[k * n + j], Values<N>{});
}

// Exchanges rows r and h and divides the pivot row and its right-hand side
// by p, in the systems where found holds: every row is rewritten by
// selection, and the pivot row is kept on the side.
template <std::size_t N>
QUILLMORPH_INLINE elimination::PivotRow<Values<N>> take_pivot_row(
    Values<N>* a, Values<N>* b, std::size_t n, std::size_t j, const Values<N>& r,
    const Values<N>& h, const Values<N>& p, const Masks<N>& found, Values<N>* pivot_row) {
    // Row -1 is no row: systems without a pivot store nothing.
    const Values<N> none = broadcast<N>(-1.0);
    const Values<N> pivot_at = select(found, r, none);
    const Values<N> exchange_at = select(found & differ(h, r), h, none);
    const auto place = [&](Values<N>* v, std::size_t stride, std::size_t c, const Values<N>& pivot)
                           QUILLMORPH_INLINE_LAMBDA {
                               const Values<N> displaced = gather(v, n, stride, r, c);
                               for (std::size_t k = 0; k < n; ++k) {
                                   Values<N>& e = v[k * stride + c];
                                   e = select(row_is(exchange_at, k), displaced, e);
                                   e = select(row_is(pivot_at, k), pivot, e);
                               }
                           };
    const Values<N> pivot_b = elimination::divide(gather(b, n, 1, h, 0), p);
    for (std::size_t c = 0; c < n; ++c) {
        Values<N> pivot = entry(a, n, h, c);
        if (c >= j) pivot = elimination::divide(pivot, p);
        pivot_row[c] = pivot;
        place(a, n, c, pivot);
    }
    place(b, 1, 0, pivot_b);
    return {pivot_row, pivot_b};
}

template <std::size_t N>
QUILLMORPH_INLINE bool column_skipped(const Masks<N>&) {
    return false;  // selections instead
}
template <std::size_t N>
QUILLMORPH_INLINE bool skipped(std::size_t, const Values<N>&) {
    return false;
}
template <std::size_t N>
QUILLMORPH_INLINE Masks<N> cleared(const Masks<N>& found, const Values<N>& r, std::size_t i) {
    return found & differ(r, broadcast<N>(static_cast<double>(i)));
}
template <std::size_t N>
QUILLMORPH_INLINE bool rows_left(const Values<N>&, std::size_t) {
    return true;
}

}  // namespace QUILLMORPH_KERNEL_NAMESPACE
}  // namespace quillmorph

#endif
