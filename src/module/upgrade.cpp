// Conversion of old-layout modules.
#include "module/upgrade.h"

#include <cstdio>

#include "status.h"

int32_t upgrade_module(uint8_t *, uint32_t)
{
    std::printf("Module upgrade is not supported by this build\n");
    return module_check_status(0x80);
}
