// Header grammar and output conversion of the PGM module.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "pgm/pgm.h"
#include "pgm/pgm_output.h"
#include "test_support.h"

namespace quillmorph {

namespace {

struct HeaderResult {
    int status;
    int width, height, maxval, kind;
    int next_byte;  // the byte the stream stands on afterwards, or EOF
};

// The parser reads a real file, as the program does.
HeaderResult parse(const std::string& bytes) {
    static const std::string path = make_scratch_dir() + "/header.pgm";
    write_file(path, bytes);
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    HeaderResult result{};
    if (!stream) {
        ADD_FAILURE() << "cannot open " << path;
        return result;
    }
    result.status =
        read_pgm_header(stream, &result.width, &result.height, &result.maxval, &result.kind);
    result.next_byte = std::fgetc(stream);
    std::fclose(stream);
    return result;
}

struct HeaderCase {
    const char* name;
    std::string bytes;
    int status, width, height, maxval, kind, next_byte;
};

TEST(ReadPgmHeader, KnownHeaders) {
    const std::string long_comment = "#" + std::string(600, '7') + " 99 99 255\n";
    const HeaderCase cases[] = {
        {"five-line header", "P5\n# made by hand\n512 384\n# depth\n255\nX", 0, 512, 384, 255, 1,
         'X'},
        {"one-line header", "P5 512 384 255\nX", 0, 512, 384, 255, 1, 'X'},
        {"comment before magic", "# first\nP5\n4 3\n255\nX", 0, 4, 3, 255, 1, 'X'},
        {"P6 kind", "P6\n4 3\n255\nX", 0, 4, 3, 255, 3, 'X'},
        {"P7 kind", "P7 4 3 255\nX", 0, 4, 3, 255, 4, 'X'},
        {"maxval 15 parses", "P5\n4 3\n15\nX", 0, 4, 3, 15, 1, 'X'},
        {"size and maxval on one line", "P5\n512 384 255\nX", 0, 512, 384, 255, 1, 'X'},
        {"long comment skipped whole", "P5\n" + long_comment + "8 6\n255\nX", 0, 8, 6, 255, 1, 'X'},
        {"long comment before magic", long_comment + "P5 8 6 255\nX", 0, 8, 6, 255, 1, 'X'},
        {"magic P2", "P2\n4 3\n255\n", -1, 0, 0, 0, 0, 0},
        {"lower-case magic", "p5\n4 3\n255\n", -1, 0, 0, 0, 0, 0},
        {"CR LF magic line", "P5\r\n4 3\r\n255\r\n", -1, 0, 0, 0, 0, 0},
        {"size line with one number", "P5\n512\n255\n", -1, 0, 0, 0, 0, 0},
        {"maxval not a number", "P5\n4 3\nabc\n", -1, 0, 0, 0, 0, 0},
        {"one-line header missing maxval", "P5 4 3\n", -1, 0, 0, 0, 0, 0},
        {"width beyond int", "P5\n99999999999 3\n255\n", -1, 0, 0, 0, 0, 0},
        {"maxval beyond int", "P5\n4 3\n99999999999\n", -1, 0, 0, 0, 0, 0},
        {"negative height beyond int", "P5 4 -99999999999 255\n", -1, 0, 0, 0, 0, 0},
        {"empty file", "", -10, 0, 0, 0, 0, 0},
        {"comments only", "# a\n# b\n", -10, 0, 0, 0, 0, 0},
        {"ends after magic", "P5\n", -10, 0, 0, 0, 0, 0},
        {"ends after size line", "P5\n4 3\n", -10, 0, 0, 0, 0, 0},
        {"ends in a comment", "P5\n4 3\n# depth follows\n", -10, 0, 0, 0, 0, 0},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const HeaderCase& c = cases[i];
        const HeaderResult r = parse(c.bytes);
        SCOPED_TRACE(std::to_string(i) + ": " + c.name);
        EXPECT_EQ(r.status, c.status);
        if (c.status != 0) continue;
        EXPECT_EQ(r.width, c.width);
        EXPECT_EQ(r.height, c.height);
        EXPECT_EQ(r.maxval, c.maxval);
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.next_byte, c.next_byte);
    }
}

TEST(ReadPgmHeader, NegativeAndZeroSizesParse) {
    // The parser does not range-check; the driver refuses such sizes.
    const HeaderResult r = parse("P5\n-4 0\n255\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.width, -4);
    EXPECT_EQ(r.height, 0);
}

TEST(ReadPgmHeader, EveryTruncationBeforeTheMaxvalFails) {
    // Cut inside the maxval line, "255" becomes "25" or "2": a header of
    // another depth, which the driver refuses as a format error.
    const std::string header = "P5\n# c\n12 10\n# d\n255\n";
    const std::size_t maxval_start = header.rfind("255");
    for (std::size_t length = 0; length <= maxval_start; ++length) {
        const HeaderResult r = parse(header.substr(0, length));
        EXPECT_NE(r.status, 0) << "header cut to " << length << " bytes";
    }
}

TEST(WritePgmImage, WritesHeaderAndPixels) {
    const std::string dir = make_scratch_dir();
    const std::string path = dir + "/out.pgm";
    const unsigned char pixels[6] = {0, 10, 11, 255, 0, 255};
    ASSERT_EQ(write_pgm_image(pixels, path.c_str(), 3, 2), pgm_write_ok);
    const std::string expected =
        std::string("P5\n 3 2\n255\n") + '\0' + "\x0a\x0b\xff" + '\0' + "\xff";
    EXPECT_EQ(read_file(path), expected);
}

TEST(WritePgmImage, FailureLeavesExistingFileAndNoTemporaries) {
    const std::string dir = make_scratch_dir();
    const unsigned char pixels[4] = {1, 2, 3, 4};
    EXPECT_EQ(write_pgm_image(pixels, (dir + "/missing/out.pgm").c_str(), 2, 2), pgm_write_failed);
    EXPECT_EQ(write_pgm_image(pixels, dir.c_str(), 2, 2), pgm_write_failed);
    EXPECT_EQ(list_directory(dir), std::vector<std::string>{});
}

}  // namespace

}  // namespace quillmorph
