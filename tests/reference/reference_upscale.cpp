// reference_upscale in.pgm out.pgm: the whole tool with the straightforward
// refinement, for deriving pinned outputs and for comparing whole runs.
// Trusts its input: it is a test instrument, not a user's program.
#include <cstdio>
#include <vector>

#include "interp/pixels.h"
#include "interp/upsample.h"
#include "pgm/pgm.h"
#include "reference/reference_refine.h"

using namespace quillmorph;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: reference_upscale in.pgm out.pgm\n");
        return 1;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    int w = 0, h = 0, maxval = 0, kind = 0;
    if (!in || read_pgm_header(in, &w, &h, &maxval, &kind) != pgm_ok || w < 3 || h < 3) {
        std::fprintf(stderr, "reference_upscale: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<unsigned char> lr(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    const bool complete = std::fread(lr.data(), 1, lr.size(), in) == lr.size();
    std::fclose(in);
    if (!complete) {
        std::fprintf(stderr, "reference_upscale: %s is truncated\n", argv[1]);
        return 1;
    }

    std::vector<double> grid(4 * lr.size());
    upsample_initial(w, lr.data(), grid.data(), h, max_8bit_sample);
    reference::refine(grid.data(), w, h);
    std::vector<unsigned char> bytes(grid.size());
    for (std::size_t i = 0; i < grid.size(); ++i)
        bytes[i] = static_cast<unsigned char>(reference::output_sample(grid[i]));

    std::FILE* out = std::fopen(argv[2], "wb");
    const bool written = out && std::fprintf(out, "P5\n %d %d\n255\n", 2 * w, 2 * h) > 0 &&
                         std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (!out || std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "reference_upscale: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
