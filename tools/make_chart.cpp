// make_chart: writes a deterministic synthetic grayscale test chart as a
// binary PGM, with the content people upscale: a zone plate, slanted edges,
// thin lines at many angles, linear and radial gradients, flat areas and
// small text-like strokes.
//
//   make_chart out.pgm [size]        (size: 16 .. 16384, default 256)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int default_size = 256;
constexpr int min_size = 16;
constexpr int max_size = 16384;
constexpr int supersampling = 4;  // per axis, for anti-aliased shapes
constexpr double pi = 3.14159265358979323846;

// 5 x 7 glyphs, one row per byte, bit 4 is the leftmost column.
struct Glyph {
    char letter;
    unsigned char rows[7];
};
constexpr Glyph font[] = {
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
};

bool glyph_pixel(char letter, int row, int col) {
    for (const Glyph& glyph : font)
        if (glyph.letter == letter) return (glyph.rows[row] >> (4 - col)) & 1;
    return false;
}

// Intensity at chart coordinates (x, y) in [0, 1)^2, as a value in 0..255.
double chart_value(double x, double y) {
    if (y < 0.5 && x < 0.5) {  // zone plate: rings whose frequency rises outwards
        const double dx = x - 0.25, dy = y - 0.25;
        return 127.5 + 127.5 * std::cos(pi * 400.0 * (dx * dx + dy * dy));
    }
    if (y < 0.5) {  // slanted square on grey, with a star of thin lines
        const double dx = x - 0.75, dy = y - 0.25;
        const double u = dx * std::cos(0.3) + dy * std::sin(0.3);
        const double v = -dx * std::sin(0.3) + dy * std::cos(0.3);
        double value = (std::fabs(u) < 0.12 && std::fabs(v) < 0.12) ? 230.0 : 60.0;
        const double radius = std::sqrt(dx * dx + dy * dy);
        if (radius > 0.17 && radius < 0.24) {
            for (int spoke = 0; spoke < 12; ++spoke) {
                const double angle = pi * spoke / 12.0;
                const double distance = std::fabs(-dx * std::sin(angle) + dy * std::cos(angle));
                if (distance < 0.0025) value = 250.0;
            }
        }
        return value;
    }
    if (x < 0.5) {  // a linear ramp above, a radial gradient below
        if (y < 0.75) return 20.0 + 200.0 * x / 0.5;
        const double dx = x - 0.25, dy = y - 0.875;
        const double radius = std::sqrt(dx * dx + dy * dy) / 0.25;
        return radius < 1.0 ? 240.0 - 200.0 * radius : 40.0;
    }
    // Flat bands with text-like strokes on them.
    const double band_value = y < 0.75 ? 235.0 : 25.0;
    const double ink = y < 0.75 ? 20.0 : 220.0;
    const char* line = y < 0.75 ? "QUILLMORPH" : "2X A10";
    const double top = y < 0.75 ? 0.58 : 0.83;
    const double glyph_height = 0.05, glyph_width = glyph_height * 5.0 / 7.0;
    const double row = (y - top) / glyph_height * 7.0;
    if (row >= 0.0 && row < 7.0) {
        const double pitch = glyph_width * 1.2;
        const double offset = (x - 0.52) / pitch;
        const int index = static_cast<int>(std::floor(offset));
        int length = 0;
        while (line[length]) ++length;
        if (offset >= 0.0 && index < length) {
            const double col = (offset - index) * 1.2 * 5.0;
            if (col < 5.0 && glyph_pixel(line[index], static_cast<int>(row), static_cast<int>(col)))
                return ink;
        }
    }
    return band_value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("Usage: make_chart out.pgm [size]\n");
        return 1;
    }
    const int size = argc > 2 ? std::atoi(argv[2]) : default_size;
    if (size < min_size || size > max_size) {
        std::printf("Chart size must be %d to %d.\n", min_size, max_size);
        return 1;
    }
    const std::size_t side = static_cast<std::size_t>(size);
    std::vector<unsigned char> pixels(side * side);
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            double sum = 0.0;
            for (int sy = 0; sy < supersampling; ++sy)
                for (int sx = 0; sx < supersampling; ++sx)
                    sum += chart_value((px + (sx + 0.5) / supersampling) / size,
                                       (py + (sy + 0.5) / supersampling) / size);
            const double mean = sum / (supersampling * supersampling);
            pixels[static_cast<std::size_t>(py) * side + static_cast<std::size_t>(px)] =
                static_cast<unsigned char>(std::lround(std::fmin(255.0, std::fmax(0.0, mean))));
        }
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::printf("Cannot write file: %s.\n", argv[1]);
        return 1;
    }
    std::fprintf(out, "P5\n%d %d\n255\n", size, size);
    const bool ok = std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
    if (std::fclose(out) != 0 || !ok) {
        std::printf("Cannot write file: %s.\n", argv[1]);
        return 1;
    }
    return 0;
}
