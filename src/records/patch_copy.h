// Copying an S-record file with the module CRC patched into its link record.
#pragma once

#include <cstdint>

// Copies input_path to new_path record by record, patching the record whose
// number is link_record. Returns 0, 1 when the files cannot be opened, or
// ERR_WRITE_SHORT.
[[nodiscard]] int32_t copy_with_crc(const char *input_path, const char *new_path);
