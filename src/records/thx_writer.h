// Writing the module as a thx file of T-records.
//
//   RECORD  COUNT       ADDRESS                     DATA                 BYTES
//   T0      21          none                        the 20-byte thd record  24
//   T3      length + 5  link_address + offset, BE   length module bytes  length + 8
//   T7      1           none                        none                 4
//
// Records follow each other without a separator.
#pragma once

#include <cstdint>
#include <cstdio>

// What one T-record is built from.
struct TRecordSpec {
    char type;             // '0', '3' or '7'
    uint32_t address;      // target address; type '3' only
    const uint8_t *data;   // the data bytes
    int32_t length;        // number of data bytes
};

// Largest record_size: a T3 record's count byte (length + 5) reaches 255.
constexpr int32_t MAX_THX_RECORD_SIZE = 250;

// Builds the record in buffer (at least T_RECORD_MAX bytes). Returns its
// length in bytes (count + 3), or -1 for a type other than '0', '3', '7' or a
// length the count byte cannot hold.
[[nodiscard]] int32_t build_t_record(uint8_t *buffer, const TRecordSpec *want);

// Writes the module's T0, T3 and T7 records to file, record_size data bytes
// to a T3 record (247 for 0). Returns 0, or 1 when a write fell short, when
// record_size is out of range or the module's size lies beyond the block.
[[nodiscard]] int32_t write_thx(FILE *file, const uint8_t *image, uint32_t block);

// Writes the thx file at path through a temporary file, so that a failed
// write leaves the old file (which may be the input) as it was. A
// record_size above 250 or below 0 is refused with a message before any file
// is touched. Returns 0, 1 (refused or written short), or errno when the
// file cannot be opened.
[[nodiscard]] int32_t write_thx_file(const char *path, uint8_t *image, uint32_t block);
