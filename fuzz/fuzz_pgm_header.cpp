// libFuzzer target: the header parser on arbitrary bytes.
//
// Beyond "no crash, no sanitizer report", every input must give one of the
// three status codes, and a header that parses must name a known kind and
// leave the stream inside the buffer, since the pixels are read from there.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "pgm/pgm.h"

using namespace quillmorph;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A private copy: fmemopen wants a writable buffer, and the parser must
    // not depend on a terminating NUL that the fuzzer's data does not have.
    std::vector<char> bytes(data, data + size);
    // fmemopen refuses an empty buffer; /dev/null is the same empty stream.
    std::FILE* stream = size ? fmemopen(bytes.data(), size, "rb") : std::fopen("/dev/null", "rb");
    if (!stream) return 0;

    int width = 0, height = 0, maxval = 0, kind = 0;
    const int status = read_pgm_header(stream, &width, &height, &maxval, &kind);
    if (status != pgm_ok && status != pgm_malformed && status != pgm_premature_end)
        __builtin_trap();
    if (status == pgm_ok) {
        if (kind != pgm_kind_gray && kind != pgm_kind_color && kind != pgm_kind_pam)
            __builtin_trap();
        const long position = std::ftell(stream);
        if (position < 0 || static_cast<std::size_t>(position) > size) __builtin_trap();
    }
    std::fclose(stream);
    return 0;
}
