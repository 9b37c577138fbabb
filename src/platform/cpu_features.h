// Instruction-set extensions of the processor the tool runs on.
#pragma once

#include <span>

// CPU_X86_DISPATCH is 1 where code for x86-64 extensions may be compiled
// with function-level target attributes and chosen at run time. The Windows
// build stays on baseline code: mingw-w64's gcc aligns the stack to 16 bytes
// only, while 32- and 64-byte vector spills need more.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define CPU_X86_DISPATCH 1
#else
#define CPU_X86_DISPATCH 0
#endif

// Groups of extensions that code paths are written for. Each group counts as
// present only when the processor has all of it and the operating system
// saves the registers it uses.
enum : unsigned {
    CPU_PCLMUL = 0x1,       // PCLMULQDQ and SSE4.1
    CPU_VPCLMUL_256 = 0x2,  // CPU_PCLMUL, AVX2 and VPCLMULQDQ on 256-bit registers
    CPU_VPCLMUL_512 = 0x4,  // CPU_PCLMUL, AVX-512F and VPCLMULQDQ on 512-bit registers
    CPU_SSSE3 = 0x8,        // SSSE3 byte shuffles
    CPU_AVX2 = 0x10,        // AVX2 on 256-bit registers
};

// The CPU_ groups this machine offers; 0 where CPU_X86_DISPATCH is 0. The
// processor is asked on the first call only.
unsigned cpu_features();

// Whether this machine runs code that needs the CPU_ groups in needs.
inline bool cpu_runs(unsigned needs) { return (cpu_features() & needs) == needs; }

// One way of doing a job (the CRC, hex decoding), for the processors that
// have the CPU_ groups it needs; 0 for code any processor runs.
template <class Run> struct Kernel {
    const char *name;
    Run run;
    unsigned needs;
};

// The last kernel of the list (slowest first, the first one needing
// nothing) that this machine runs. The choice is made on the first call
// and kept in *chosen, so that a run asks the processor once at most.
template <class Run>
const Kernel<Run> &choose_kernel(std::span<const Kernel<Run>> kernels, const Kernel<Run> **chosen)
{
    if (!*chosen) {
        *chosen = &kernels[0];
        for (const Kernel<Run> &k : kernels)
            if (cpu_runs(k.needs))
                *chosen = &k;
    }
    return **chosen;
}
