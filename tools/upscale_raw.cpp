// upscale_raw: upscales raw samples through the library's API, for programs
// that compare with the native library on images the tool does not read
// (16-bit samples, any maxval): the JavaScript package's tests and its
// bench.
//
//   upscale_raw in.raw out.raw width height bits maxval [threads]
//
// in.raw holds width * height samples, row by row, of 8 bits (bits = 8) or
// 16 bits in the machine's byte order (bits = 16); out.raw gets the
// 2*width x 2*height result likewise.  threads as qm_options_set_threads
// (default 0, every processor).  Prints the processor seconds of the call
// and the copy of the vector code that ran (qm_vector_target).
// Exit status: 0, 1 when the library refuses the image (its sentence on
// stderr), 2 for bad arguments or files.
#include <quillmorph.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: upscale_raw in.raw out.raw width height bits maxval [threads]\n");
    return 2;
}

template <class Sample>
int run(const char* in_path, const char* out_path, int width, int height, qm_options* options) {
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<Sample> lr(count), hr(4 * count);
    std::FILE* in = std::fopen(in_path, "rb");
    if (!in) return usage();
    const bool read = std::fread(lr.data(), sizeof(Sample), count, in) == count;
    std::fclose(in);
    if (!read) return usage();

    const std::clock_t start = std::clock();
    int status;
    if constexpr (sizeof(Sample) == 1)
        status = qm_upscale(lr.data(), width, height, width, hr.data(), 2 * width, options);
    else
        status = qm_upscale16(lr.data(), width, height, 2 * width, hr.data(), 4 * width, options);
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    if (status != QM_OK) {
        std::fprintf(stderr, "upscale_raw: %s\n", qm_status_string(status));
        return 1;
    }

    std::FILE* out = std::fopen(out_path, "wb");
    if (!out) return usage();
    const bool written = std::fwrite(hr.data(), sizeof(Sample), hr.size(), out) == hr.size();
    if (std::fclose(out) != 0 || !written) return usage();
    std::printf("%.6f %s\n", seconds, qm_vector_target());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7 && argc != 8) return usage();
    const int width = std::atoi(argv[3]), height = std::atoi(argv[4]);
    const int bits = std::atoi(argv[5]), maxval = std::atoi(argv[6]);
    const int threads = argc == 8 ? std::atoi(argv[7]) : 0;
    if (width <= 0 || height <= 0 || (bits != 8 && bits != 16)) return usage();
    qm_options* options = qm_options_new();
    if (!options) return usage();
    int status = qm_options_set_maxval(options, maxval);
    if (status == QM_OK) status = qm_options_set_threads(options, threads);
    int result = 1;
    if (status != QM_OK)
        std::fprintf(stderr, "upscale_raw: %s\n", qm_status_string(status));
    else if (bits == 8)
        result = run<unsigned char>(argv[1], argv[2], width, height, options);
    else
        result = run<std::uint16_t>(argv[1], argv[2], width, height, options);
    qm_options_free(options);
    return result;
}
