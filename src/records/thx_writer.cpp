// Writing the module as a thx file.
#include "records/thx_writer.h"

#include <cstdio>

int32_t write_thx_file(const char *, uint8_t *, uint32_t)
{
    std::printf("Thx output is not supported by this build\n");
    return 1;
}
