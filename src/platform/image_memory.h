// The memory block of the module image.
#pragma once

#include <cstdint>

// A block of size bytes, freed with free(). A large block is placed on
// 2 MiB boundaries and marked for huge pages where the system has them:
// presetting tens of megabytes to FF otherwise costs one page fault per
// 4 KiB, which is most of the time of a large run. Null when out of memory.
uint8_t *allocate_image_block(uint32_t size);
