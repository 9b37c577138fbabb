// Loading a record file into the module image.
#pragma once

#include <cstdint>

// Places every data record at its address minus link_address. Sets
// link_record and loaded_bytes and fills the summary. Returns 0,
// ERR_IMAGE_FIT, or errno when the file cannot be opened.
[[nodiscard]] int32_t load_records(const char *path, uint8_t *image, uint32_t capacity,
                                   uint32_t block);
