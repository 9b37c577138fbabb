// Loading a record file into the module image.
#include "records/record_loader.h"

#include <cstdio>

int32_t load_records(const char *, uint8_t *, uint32_t, uint32_t)
{
    std::printf("Record input is not supported by this build\n");
    return 1;
}
