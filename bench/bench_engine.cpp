// Google Benchmark programs for the engine: the solvers at n = 4 and n = 25
// on systems the estimators build (one at a time and eight side by side),
// each estimator (one target at a time and a row at a time), and whole
// refinements.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "interp/estimator.h"
#include "interp/estimator_assembly.h"
#include "interp/estimator_steps.h"
#include "interp/pixels.h"
#include "interp/upscale.h"
#include "interp/upsample.h"
#include "linalg/solve.h"
#include "interp/vector_kernels.h"
#include "linalg/solve_batch.h"

using namespace quillmorph;

namespace {

// A deterministic LR image with edges, texture and smooth areas.
std::vector<unsigned char> test_image(int w, int h) {
    std::vector<unsigned char> lr(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            double v = 128 + 90 * std::sin(0.21 * c + 0.13 * r) * std::cos(0.017 * r * c / 8.0);
            if ((c - w / 2) * 3 + (r - h / 2) * 2 > 0) v = 255 - v;
            lr[static_cast<std::size_t>(r) * static_cast<std::size_t>(w) +
               static_cast<std::size_t>(c)] =
                static_cast<unsigned char>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
        }
    return lr;
}

std::vector<double> upsampled_grid(int w, int h) {
    const std::vector<unsigned char> lr = test_image(w, h);
    std::vector<double> grid(4 * lr.size());
    upsample_initial(w, lr.data(), grid.data(), h, max_8bit_sample);
    return grid;
}

// One estimator for the benchmarks, on 8-bit images.
Estimator& bench_estimator() {
    static Estimator* estimator = new_estimators(1, max_8bit_sample);
    return *estimator;
}

// The model and block systems of the diagonal targets of a 48 x 48 image.
struct Systems {
    std::vector<std::vector<double>> model_a, model_b, block_a, block_b;
};

const Systems& estimator_systems() {
    static Systems systems;
    if (!systems.model_a.empty()) return systems;
    const int w = 48, h = 48, w2 = 2 * w;
    const std::vector<double> grid = upsampled_grid(w, h);
    for (int r = 5; r <= 2 * h - 7; r += 2) {
        for (int c = 5; c <= w2 - 7; c += 2) {
            const double* window = &grid[static_cast<std::size_t>((r - 5) * w2 + c - 5)];
            Estimator& e = bench_estimator();
            assemble_model_system(e, diagonal_lattice, window, w2);
            systems.model_a.emplace_back(e.model_matrix, e.model_matrix + 16);
            systems.model_b.emplace_back(e.model_vector, e.model_vector + 4);
            solve_linear_system(4, e.model_vector, e.model_matrix);
            if (e.model_matrix[15] < acceptance_threshold) continue;
            assemble_block_system(e, diagonal_lattice, window, w2);
            systems.block_a.emplace_back(e.block_matrix, e.block_matrix + 625);
            systems.block_b.emplace_back(e.block_vector, e.block_vector + 25);
        }
    }
    return systems;
}

template <void (*Solve)(int, double*, double*)>
void solve_systems(benchmark::State& state, int n) {
    const Systems& systems = estimator_systems();
    const auto& as = n == 4 ? systems.model_a : systems.block_a;
    const auto& bs = n == 4 ? systems.model_b : systems.block_b;
    double a[625], b[25];
    std::size_t i = 0;
    for (auto _ : state) {
        std::memcpy(a, as[i].data(), as[i].size() * sizeof(double));
        std::memcpy(b, bs[i].data(), bs[i].size() * sizeof(double));
        Solve(n, b, a);
        benchmark::DoNotOptimize(b);
        i = (i + 1) % as.size();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// The solvers the estimators instantiate for their shapes, and the
// run-time-shape entry points of linalg/.
void solve_model_sized(int, double* b, double* a) { assembly::solve_model_system(b, a); }
void solve_block_sized(int, double* b, double* a) { assembly::solve_block_system(b, a, ~0u); }

void BM_SolveFast4(benchmark::State& state) { solve_systems<solve_model_sized>(state, 4); }
void BM_SolveRuntime4(benchmark::State& state) { solve_systems<solve_linear_system>(state, 4); }
void BM_SolveReference4(benchmark::State& state) {
    solve_systems<solve_linear_system_reference>(state, 4);
}
void BM_SolveFast25(benchmark::State& state) { solve_systems<solve_block_sized>(state, 25); }
void BM_SolveRuntime25(benchmark::State& state) { solve_systems<solve_linear_system>(state, 25); }
void BM_SolveReference25(benchmark::State& state) {
    solve_systems<solve_linear_system_reference>(state, 25);
}

// Eight systems side by side per iteration; items are systems.
void solve_side_by_side(benchmark::State& state, int n, bool sized) {
    const Systems& systems = estimator_systems();
    const auto& as = n == 4 ? systems.model_a : systems.block_a;
    const auto& bs = n == 4 ? systems.model_b : systems.block_b;
    const std::size_t size = static_cast<std::size_t>(n);
    static batch_entry a[625], b[25];
    std::size_t first = 0;
    for (auto _ : state) {
        for (std::size_t l = 0; l < batch_size; ++l) {
            const std::size_t s = (first + l) % as.size();
            for (std::size_t i = 0; i < size * size; ++i) a[i][l] = as[s][i];
            for (std::size_t i = 0; i < size; ++i) b[i][l] = bs[s][i];
        }
        if (n == 4 && sized)
            vector_kernels()->solve_models(b, a);
        else if (n == 4)
            solve_dense_batch(n, b, a);
        else if (sized)
            benchmark::DoNotOptimize(vector_kernels()->solve_blocks(b, a, ~0u));
        else
            benchmark::DoNotOptimize(solve_banded_batch(n, block_bandwidth, b, a, ~0u));
        benchmark::DoNotOptimize(b);
        first = (first + batch_size) % as.size();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * batch_size);
}

void BM_SolveLanes4(benchmark::State& state) { solve_side_by_side(state, 4, true); }
void BM_SolveLanesRuntime4(benchmark::State& state) { solve_side_by_side(state, 4, false); }
void BM_SolveLanes25(benchmark::State& state) { solve_side_by_side(state, 25, true); }
void BM_SolveLanesRuntime25(benchmark::State& state) { solve_side_by_side(state, 25, false); }

template <double (*Estimate)(Estimator&, const double*, int, int*)>
void estimate_targets(benchmark::State& state, int first_column) {
    const int w = 64, h = 64, w2 = 2 * w;
    const std::vector<double> grid = upsampled_grid(w, h);
    int r = 5, c = first_column;
    for (auto _ : state) {
        int accepted = 0;
        benchmark::DoNotOptimize(Estimate(bench_estimator(),
                                          &grid[static_cast<std::size_t>((r - 5) * w2 + c - 5)], w2,
                                          &accepted));
        c += 2;
        if (c > w2 - 8) {
            c = first_column;
            r = r + 2 > 2 * h - 8 ? 5 : r + 2;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_EstimateDiagonal(benchmark::State& state) { estimate_targets<estimate_diagonal>(state, 5); }
void BM_EstimateAxial(benchmark::State& state) { estimate_targets<estimate_axial>(state, 6); }

// The targets of one row per iteration, the way a pass hands them over;
// items are targets.
void estimate_rows(benchmark::State& state, const Lattice& lattice, int first_column) {
    const int w = 64, h = 64, w2 = 2 * w;
    const std::vector<double> grid = upsampled_grid(w, h);
    std::vector<const double*> windows;
    std::vector<int> accepted(static_cast<std::size_t>(w));
    std::vector<double> blocks(static_cast<std::size_t>(w) * block_size);
    int r = 5;
    std::int64_t targets = 0;
    for (auto _ : state) {
        windows.clear();
        for (int c = first_column + (&lattice == &axial_lattice && r % 2 == 0 ? -1 : 0);
             c <= w2 - 6; c += 2)
            windows.push_back(&grid[static_cast<std::size_t>((r - 5) * w2 + c - 5)]);
        estimate_batch(bench_estimator(), lattice, windows.data(), static_cast<int>(windows.size()),
                       w2, accepted.data(), reinterpret_cast<double(*)[block_size]>(blocks.data()));
        benchmark::DoNotOptimize(blocks.data());
        targets += static_cast<std::int64_t>(windows.size());
        r = r + 1 > 2 * h - 6 ? 5 : r + 1;
        if (&lattice == &diagonal_lattice && r % 2 == 0) ++r;
    }
    state.SetItemsProcessed(targets);
}

void BM_EstimateBatchDiagonal(benchmark::State& state) {
    estimate_rows(state, diagonal_lattice, 5);
}
void BM_EstimateBatchAxial(benchmark::State& state) { estimate_rows(state, axial_lattice, 6); }

// Whole upscaling of a side x side LR image in memory; items are LR pixels.
void BM_UpscaleImage(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const std::vector<unsigned char> lr = test_image(side, side);
    std::vector<double> grid(4 * lr.size());
    for (auto _ : state) {
        upscale_image(lr.data(), side, side, max_8bit_sample, grid.data(),
                      layout_for_threads(0, side));
        benchmark::DoNotOptimize(grid.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * side * side);
}

}  // namespace

BENCHMARK(BM_SolveFast4);
BENCHMARK(BM_SolveRuntime4);
BENCHMARK(BM_SolveReference4);
BENCHMARK(BM_SolveFast25);
BENCHMARK(BM_SolveRuntime25);
BENCHMARK(BM_SolveReference25);
BENCHMARK(BM_SolveLanes4);
BENCHMARK(BM_SolveLanesRuntime4);
BENCHMARK(BM_SolveLanes25);
BENCHMARK(BM_SolveLanesRuntime25);
BENCHMARK(BM_EstimateDiagonal);
BENCHMARK(BM_EstimateAxial);
BENCHMARK(BM_EstimateBatchDiagonal);
BENCHMARK(BM_EstimateBatchAxial);
BENCHMARK(BM_UpscaleImage)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime();

// The copy of the vector kernels every figure above comes from, in the
// context the benchmark prints first (QUILLMORPH_CPU chooses another).
int main(int argc, char** argv) {
    const char* copy = quillmorph::vector_target_name();
    benchmark::AddCustomContext("vector code", copy ? copy : "none (QUILLMORPH_CPU refused)");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
