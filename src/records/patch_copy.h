// Copying an S-record file with the module CRC patched into its link record.
#pragma once

#include <cstdint>

#include "records/record_reader.h"

// Copies record_path to new_path record by record, patching loaded_crc into
// the record whose number (as load_records numbers them) is link_record.
// S-record lines keep their bytes and line end, a last line without a line
// feed gets one, T-records get a line feed each, stray bytes and overlong
// lines are copied through as they are. new_path is flushed to disk before
// it is closed. Returns 0, 1 when the files cannot be opened, ERR_WRITE_SHORT
// (a write, the flush or the close failed, or the link record cannot take
// the CRC; each with a message), ERR_READ_SHORT (reading the input failed)
// or ERR_NO_MEMORY (no room for the read and write buffers).
// On failure new_path is left incomplete and record_path untouched. An
// Intel HEX file (format INTEL_HEX) is copied exactly as it is, but for the
// four CRC characters and the two checksum characters of its link record.
[[nodiscard]] int32_t copy_with_crc(const char *record_path, const char *new_path,
                                    RecordFormat format = RecordFormat::S_RECORDS);
