// Loading a record file into the module image.
#pragma once

#include <cstdint>

#include "records/record_load.h"
#include "records/record_reader.h"

// Places every data record at its address minus link_address, in file order,
// until an end record or the end of the file. Bytes that are no record
// are passed over; a damaged record of a known type fails the load with its
// message. Sets link_record (the number of the last data record that starts
// at the link address) and loaded_bytes, fills the summary, and leaves in
// *found the file's format, the copy's plan and what it saw of a failure.
// Returns 0, ERR_IMAGE_FIT (capacity below 68, or a record below the link
// address or beyond capacity), ERR_RECORD_SUM (a damaged record),
// ERR_CRC_NOT_IN_FILE (-w: no record holds the CRC's place), ERR_READ_SHORT
// when reading failed, ERR_NO_MEMORY when the read block cannot be
// allocated, or errno when the file cannot be opened.
[[nodiscard]] int32_t load_records(RecordLoad *found, const char *path, uint8_t *image,
                                   uint32_t capacity, uint32_t block);

// The same for an Intel HEX file: data records go to base + address minus
// link_address, and are numbered from 1 (the other record types take no
// number); an end-of-file record ends the load.
[[nodiscard]] int32_t load_hex_records(RecordLoad *found, const char *path, uint8_t *image,
                                       uint32_t capacity, uint32_t block);

// Reads the data records of the whole file at path into found->extents,
// every record at its address (a file that holds more than one module, or
// a module among other data: -w); a damaged record fails the load as
// above. Returns 0, ERR_RECORD_SUM, ERR_READ_SHORT, ERR_NO_MEMORY or errno.
[[nodiscard]] int32_t load_record_extents(RecordLoad *found, const char *path,
                                          RecordFormat format);

// Frees what found holds and empties it.
void release_record_load(RecordLoad *found);

// Where a CRC byte lies in a record file: the offset of its first
// character (its byte in a T-record), and its line (0 for a T-record).
struct CrcByte {
    bool found;
    uint64_t offset;
    uint64_t line;
};

// Finds in the record file at path, in one reading, for each of count
// modules the first data record (before the end record) that holds the
// byte at its address, and the one at its address + 1: bytes[m].
void locate_crc_bytes(const char *path, RecordFormat format, const uint32_t *addresses, int count,
                      CrcByte (*bytes)[2]);

// Completes the report of a run that failed on the record file at path:
// where its data lies (the lowest and highest address of its data records,
// read to the end record or the end; damaged records and stray bytes are
// passed over), which a load that stopped early, or placed only the
// module, did not see.
void finish_load_report(RecordLoad *found, const char *path);
