// The module image block, on huge pages where Linux offers them.
#include "platform/image_memory.h"

#include <cstdlib>

#ifdef __linux__
#include <sys/mman.h>
#endif

uint8_t *allocate_image_block(uint32_t size)
{
#ifdef __linux__
    constexpr size_t HUGE_PAGE = size_t(2) << 20;
    if (size >= 2 * HUGE_PAGE) {
        void *p = nullptr;
        if (posix_memalign(&p, HUGE_PAGE, size) != 0)
            return nullptr;
        (void)madvise(p, size, MADV_HUGEPAGE);  // a hint; refusal is harmless
        return static_cast<uint8_t *>(p);
    }
#endif
    return static_cast<uint8_t *>(std::malloc(size));
}
