// The vector kernels, compiled once per vector unit (see
// interp/vector_kernels.h): QUILLMORPH_KERNEL_NAMESPACE names the copy and
// QUILLMORPH_PACK_WIDTH gives the doubles one register holds.  Everything
// here, and every helper it inlines, stays in the copy's own namespace or is
// always inlined, so that no copy's instructions reach another through the
// linker.
#include <cstddef>
#include <cstdint>

#include "interp/estimator_assembly.h"
#include "interp/lattice.h"
#include "interp/vector_kernels.h"
#include "linalg/banded_batch.h"
#include "linalg/batch.h"
#include "linalg/elimination.h"

namespace quillmorph {
namespace QUILLMORPH_KERNEL_NAMESPACE {

namespace {

void assemble_models(const Lattice& lattice, const double* const windows[batch_size], int stride,
                     batch_entry* vector, batch_entry* matrix) {
    with_lattice(lattice, [&](auto on) QUILLMORPH_INLINE_LAMBDA {
        assembly::assemble_models<decltype(on)::lattice>(windows, stride, batches(vector),
                                                         batches(matrix));
    });
}

// The 4 x 4 systems a pack at a time: the dense solve keeps every entry of
// its systems live through each column, and a whole batch of them (80
// registers at a width of two) would spill where one pack's fits.
void solve_models(batch_entry* b, batch_entry* a) {
    using OnePack = Values<1>;
    Batch* batch_b = batches(b);
    Batch* batch_a = batches(a);
    if constexpr (packs == 1) {  // a batch is one register: solved where it lies
        elimination::eliminate<Batch, model_order>(model_order, batch_b, batch_a);
        return;
    }
    for (std::size_t k = 0; k < packs; ++k) {
        OnePack one_b[model_order], one_a[model_order * model_order];
        for (int i = 0; i < model_order; ++i) one_b[i].pack[0] = batch_b[i].pack[k];
        for (int i = 0; i < model_order * model_order; ++i) one_a[i].pack[0] = batch_a[i].pack[k];
        elimination::eliminate<OnePack, model_order>(model_order, one_b, one_a);
        for (int i = 0; i < model_order; ++i) batch_b[i].pack[k] = one_b[i].pack[0];
        for (int i = 0; i < model_order * model_order; ++i) batch_a[i].pack[k] = one_a[i].pack[0];
    }
}

void assemble_block_bands(const batch_entry* a, batch_entry* matrix) {
    assembly::assemble_block_band(reinterpret_cast<const Batch(&)[model_order]>(*batches(a)),
                                  batches(matrix));
}

std::uint32_t solve_blocks(batch_entry* b, batch_entry* a, std::uint32_t finished_rows) {
    return banded_batch::solve_sized<block_size, block_bandwidth>(
        block_size, block_bandwidth, batches(b), batches(a), finished_rows);
}

void solve_dense(std::size_t n, batch_entry* b, batch_entry* a) {
    elimination::eliminate<Batch, 0>(n, batches(b), batches(a));
}

std::uint32_t solve_banded(std::size_t n, std::size_t bandwidth, batch_entry* b, batch_entry* a,
                           std::uint32_t finished_rows) {
    return banded_batch::solve_sized<0, 0>(n, bandwidth, batches(b), batches(a), finished_rows);
}

}  // namespace

extern const VectorKernels kernels;
const VectorKernels kernels = {assemble_models, solve_models, assemble_block_bands,
                               solve_blocks,    solve_dense,  solve_banded};

}  // namespace QUILLMORPH_KERNEL_NAMESPACE
}  // namespace quillmorph
