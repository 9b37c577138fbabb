// Copying a record or ELF file with the module CRC patched in.
#pragma once

#include <cstdint>

#include "records/record_load.h"

// Copies record_path to new_path, patching the CRC of the load
// (load.crcs[0]) into the record whose number (as load_records numbers
// them) is link_record, or under -w each module's CRC into every record
// that holds a byte of its place; the part of the file
// that load.plan covers is copied as bytes. S-record lines keep their bytes
// and line end, a last line without a line feed gets one, T-records get a
// line feed each, stray bytes and overlong lines are copied through as they
// are. An Intel HEX file (load.format) is copied exactly as it is, but for
// the CRC characters and the checksum characters of the records patched;
// an ELF file but for the CRC's two bytes at the file offsets of the plan,
// and only when it is the file the plan is for. new_path is flushed to
// disk before it is closed. Returns 0, 1 when the files cannot be opened,
// ERR_WRITE_SHORT (a write, the flush or the close failed, or the link
// record cannot take the CRC; each with a message), ERR_READ_SHORT
// (reading the input failed, or an ELF file changed) or ERR_NO_MEMORY (no
// room for the read and write buffers). On failure new_path is left
// incomplete and record_path untouched.
[[nodiscard]] int32_t copy_with_crc(const char *record_path, const char *new_path,
                                    const RecordLoad &load);
