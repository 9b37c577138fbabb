// Instruction-set extensions of the processor, asked once.
#include "platform/cpu_features.h"

unsigned cpu_features()
{
#if CPU_X86_DISPATCH
    // __builtin_cpu_supports reads cpuid and, for the AVX families, also
    // whether the system enabled their register state (xgetbv).
    static const unsigned features = [] {
        __builtin_cpu_init();
        unsigned f = 0;
        if (__builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1"))
            f |= CPU_PCLMUL;
        if ((f & CPU_PCLMUL) && __builtin_cpu_supports("vpclmulqdq")) {
            if (__builtin_cpu_supports("avx2"))
                f |= CPU_VPCLMUL_256;
            if (__builtin_cpu_supports("avx512f"))
                f |= CPU_VPCLMUL_512;
        }
        return f;
    }();
    return features;
#else
    return 0;
#endif
}
