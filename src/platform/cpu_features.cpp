// Instruction-set extensions of the processor, asked of cpuid on first use.
#include "platform/cpu_features.h"

#include <atomic>

#if CPU_X86_DISPATCH
#include <cpuid.h>
#endif

namespace {

#if CPU_X86_DISPATCH

// Register bits of cpuid leaves 1 and 7 and of XCR0.
constexpr unsigned LEAF1_ECX_SSSE3 = 1u << 9;
constexpr unsigned LEAF1_ECX_PCLMUL = 1u << 1;
constexpr unsigned LEAF1_ECX_SSE41 = 1u << 19;
constexpr unsigned LEAF1_ECX_OSXSAVE = 1u << 27;
constexpr unsigned LEAF1_ECX_AVX = 1u << 28;
constexpr unsigned LEAF7_EBX_AVX2 = 1u << 5;
constexpr unsigned LEAF7_EBX_AVX512F = 1u << 16;
constexpr unsigned LEAF7_ECX_VPCLMUL = 1u << 10;
constexpr unsigned XCR0_AVX_STATE = 0x6;     // SSE and AVX registers
constexpr unsigned XCR0_AVX512_STATE = 0xE0; // opmask and the upper ZMM registers

unsigned ask_processor()
{
    // Three questions at most (in a virtual machine each is a trip to the
    // hypervisor): the highest leaf, leaf 1, leaf 7.
    unsigned a, b, c, d;
    __cpuid(0, a, b, c, d);
    const unsigned highest = a;
    if (highest < 1)
        return 0;
    __cpuid(1, a, b, c, d);
    const unsigned leaf1_ecx = c;
    unsigned f = 0;
    if (leaf1_ecx & LEAF1_ECX_SSSE3)
        f |= CPU_SSSE3;
    if ((leaf1_ecx & LEAF1_ECX_PCLMUL) && (leaf1_ecx & LEAF1_ECX_SSE41))
        f |= CPU_PCLMUL;

    // The AVX families also need the system to save their registers.
    if (!(leaf1_ecx & LEAF1_ECX_OSXSAVE) || !(leaf1_ecx & LEAF1_ECX_AVX))
        return f;
    unsigned xcr0_low, xcr0_high;
    __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    if ((xcr0_low & XCR0_AVX_STATE) != XCR0_AVX_STATE)
        return f;
    if (highest < 7)
        return f;
    __cpuid_count(7, 0, a, b, c, d);
    bool vpclmul = (f & CPU_PCLMUL) && (c & LEAF7_ECX_VPCLMUL);
    if (b & LEAF7_EBX_AVX2) {
        f |= CPU_AVX2;
        if (vpclmul)
            f |= CPU_VPCLMUL_256;
    }
    if ((b & LEAF7_EBX_AVX512F) && vpclmul && (xcr0_low & XCR0_AVX512_STATE) == XCR0_AVX512_STATE)
        f |= CPU_VPCLMUL_512;
    return f;
}

#else

unsigned ask_processor() { return 0; }

#endif

// Asked once: in a virtual machine every cpuid is a trip to the hypervisor.
// Runs that never need an extension (small modules) never ask.
constexpr unsigned NOT_ASKED = ~0u;
std::atomic<unsigned> features{NOT_ASKED};

}  // namespace

unsigned cpu_features()
{
    unsigned f = features.load(std::memory_order_relaxed);
    if (f == NOT_ASKED) {
        f = ask_processor();
        features.store(f, std::memory_order_relaxed);
    }
    return f;
}
