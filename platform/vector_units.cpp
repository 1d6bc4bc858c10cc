// The x86-64 processor's vector units, read with CPUID, and whether the
// operating system saves their registers, read with XGETBV (macOS enables
// the AVX-512 registers only on first use, so there it is asked instead).
#include "platform/vector_units.h"

#include <cstdlib>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define QUILLMORPH_X86_CPUID 1
#include <cpuid.h>
#endif

#if defined(__APPLE__)
#include <sys/sysctl.h>
#endif

namespace quillmorph {

namespace {

#if defined(QUILLMORPH_X86_CPUID)
// CPUID leaf 1, ECX: the operating system uses XSAVE (and so XGETBV
// works), and the processor has AVX.
constexpr unsigned osxsave_bit = 1u << 27;
constexpr unsigned avx_bit = 1u << 28;
// CPUID leaf 7, EBX.
constexpr unsigned avx2_bit = 1u << 5;
constexpr unsigned avx512f_bit = 1u << 16;
// XCR0: the register state the operating system saves.  SSE and AVX's
// upper halves; then the AVX-512 mask registers and both halves of the
// 512-bit registers.
constexpr unsigned long long ymm_state = 0x6;
constexpr unsigned long long zmm_state = 0xe6;

struct Features {
    unsigned leaf1_ecx;
    unsigned leaf7_ebx;
    unsigned long long saved_state;
};

unsigned long long read_xcr0() {
    unsigned eax = 0, edx = 0;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return static_cast<unsigned long long>(edx) << 32 | eax;
}

Features read_features() {
    Features f = {0, 0, 0};
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) f.leaf1_ecx = ecx;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) f.leaf7_ebx = ebx;
    if (f.leaf1_ecx & osxsave_bit) f.saved_state = read_xcr0();
    return f;
}

bool saves(const Features& f, unsigned long long state) { return (f.saved_state & state) == state; }

#if defined(__APPLE__)
bool system_says(const char* name) {
    int value = 0;
    std::size_t size = sizeof value;
    return sysctlbyname(name, &value, &size, nullptr, 0) == 0 && value != 0;
}
#endif
#endif

}  // namespace

bool platform_runs_avx2() {
#if defined(QUILLMORPH_X86_CPUID)
    const Features f = read_features();
    return (f.leaf1_ecx & avx_bit) && (f.leaf7_ebx & avx2_bit) && saves(f, ymm_state);
#else
    return false;
#endif
}

bool platform_runs_avx512() {
#if defined(QUILLMORPH_X86_CPUID)
    if (!platform_runs_avx2()) return false;
#if defined(__APPLE__)
    return system_says("hw.optional.avx512f");
#else
    const Features f = read_features();
    return (f.leaf7_ebx & avx512f_bit) && saves(f, zmm_state);
#endif
#else
    return false;
#endif
}

const char* platform_vector_setting() {
    const char* setting = std::getenv("QUILLMORPH_CPU");
    return setting && *setting ? setting : nullptr;
}

}  // namespace quillmorph
