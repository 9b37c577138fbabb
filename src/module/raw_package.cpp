// Packaging raw data into a new module.
#include "module/raw_package.h"

#include <cstdio>

int32_t package_raw(const char *, uint8_t *, uint32_t, uint32_t, const char *)
{
    std::printf("Raw input is not supported by this build\n");
    return 1;
}
