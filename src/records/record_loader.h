// Loading a record file into the module image.
#pragma once

#include <cstdint>

#include "platform/file_copy.h"
#include "records/record_reader.h"

// What the load learned about a record file for the CRC patch copy, so that
// the copy need not decode the file again. The copy writes a file as it
// reads it except where it repairs it: a line feed after a last line that
// has none and after every T-record. Up to clean_end no repair is due, so
// that part can be copied as bytes with only the link record patched.
struct CopyPlan {
    bool valid;            // set by the last successful load of a record file
    RecordFormat format;   // the file's records
    FileIdentity file;     // the file the plan is for, as it stood then
    uint64_t clean_end;    // the copy reproduces bytes [0, clean_end) as they are
    int32_t link_record;   // the number of the link record this load found, 0 for none
    uint64_t link_offset;  // where its line begins
    int32_t link_length;   // its bytes, without the line feed
};
extern CopyPlan copy_plan;

// Places every data record at its address minus link_address, in file order,
// until an end record or the end of the file; bad records and stray bytes are
// skipped. Sets link_record (the number of the last data record that starts
// at the link address), loaded_bytes and copy_plan, and fills the summary. Returns 0,
// ERR_IMAGE_FIT (capacity below 68, or a record below the link address or
// beyond capacity), ERR_READ_SHORT when reading failed, ERR_NO_MEMORY when
// the read block cannot be allocated, or errno when the file cannot be
// opened.
[[nodiscard]] int32_t load_records(const char *path, uint8_t *image, uint32_t capacity,
                                   uint32_t block);

// The same for an Intel HEX file: data records go to base + address minus
// link_address, and are numbered from 1 (the other record types take no
// number); an end-of-file record ends the load.
[[nodiscard]] int32_t load_hex_records(const char *path, uint8_t *image, uint32_t capacity,
                                       uint32_t block);
