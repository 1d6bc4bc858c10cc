// sample_widths [side] [rounds]: the 16-bit path against the 8-bit one.
//
// Upscales the same side x side image (the textured chart's formula) as 8-bit
// samples through qm_upscale and as 16-bit samples, 257 times each value,
// through qm_upscale16, on one thread, alternating the two calls round after
// round so that both see the same machine; prints the median time of each and
// their ratio.
#include <quillmorph.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Call>
double seconds(const Call& call) {
    const Clock::time_point start = Clock::now();
    if (call() != QM_OK) std::exit(1);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int side = argc > 1 ? std::atoi(argv[1]) : 1024;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
    if (side < 3 || rounds < 1) {
        std::fprintf(stderr, "usage: sample_widths [side >= 3] [rounds >= 1]\n");
        return 2;
    }
    const std::size_t count = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    std::vector<unsigned char> lr8(count), hr8(4 * count);
    std::vector<std::uint16_t> lr16(count), hr16(4 * count);
    std::size_t i = 0;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x, ++i) {
            double v = 110 + 70 * std::sin(0.5 * x + 0.25 * y) + 40 * std::cos(0.07 * x * y);
            if (x > side / 2.0 + y / 3.0) v = 255 - v;
            lr8[i] = static_cast<unsigned char>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
            lr16[i] = static_cast<std::uint16_t>(257 * lr8[i]);
        }
    qm_options* options = qm_options_new();
    qm_options_set_threads(options, 1);
    const std::ptrdiff_t row8 = side, row16 = 2 * static_cast<std::ptrdiff_t>(side);
    std::vector<double> eight, sixteen;
    for (int round = 0; round < rounds; ++round) {
        eight.push_back(seconds([&] {
            return qm_upscale(lr8.data(), side, side, row8, hr8.data(), 2 * row8, options);
        }));
        sixteen.push_back(seconds([&] {
            return qm_upscale16(lr16.data(), side, side, row16, hr16.data(), 2 * row16, options);
        }));
    }
    qm_options_free(options);
    const double a = median(eight), b = median(sixteen);
    std::printf("%d x %d, 1 thread, medians of %d alternating rounds, %s vector code:\n", side,
                side, rounds, qm_vector_target());
    std::printf("  8-bit  %.3f s\n  16-bit %.3f s\n  16-bit / 8-bit %.3f\n", a, b, b / a);
    return 0;
}
