// Instruction-set extensions of the processor.
#include "platform/cpu_features.h"

unsigned cpu_features()
{
#if CPU_X86_DISPATCH
    // The compiler's run-time library asks cpuid once at start-up, and for
    // the AVX families also whether the system enabled their register state
    // (xgetbv); __builtin_cpu_supports reads its answers. __builtin_cpu_init
    // returns at once when that has been done.
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
#else
    return 0;
#endif
}
