// The start every loader of the module image shares.
#include "module/loader_input.h"

#include <cerrno>

#include "state.h"
#include "status.h"

int32_t open_loader_input(const char *path, uint32_t capacity, uint32_t block, FILE **file)
{
    *file = nullptr;
    clear_summary_head();
    if (capacity < MIN_CAPACITY || capacity > block)
        return ERR_IMAGE_FIT;
    *file = std::fopen(path, "rb");
    return *file ? STATUS_OK : errno;
}
