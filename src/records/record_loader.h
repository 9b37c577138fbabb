// Loading a record file into the module image.
#pragma once

#include <cstdint>

#include "records/record_reader.h"

// Places every data record at its address minus link_address, in file order,
// until an end record or the end of the file (under -w only the part of
// each record from the link address to capacity). Bytes that are no record
// are passed over; a damaged record of a known type fails the load with its
// message. Sets link_record (the number of the last data record that starts
// at the link address), loaded_bytes, copy_plan and load_report, and fills
// the summary. Returns 0, ERR_IMAGE_FIT (capacity below 68, or a record below
// the link address or beyond capacity), ERR_RECORD_SUM (a damaged record),
// ERR_CRC_NOT_IN_FILE (-w: no record holds the CRC's place), ERR_READ_SHORT
// when reading failed, ERR_NO_MEMORY when the read block cannot be
// allocated, or errno when the file cannot be opened.
[[nodiscard]] int32_t load_records(void *findings, const char *path, uint8_t *image,
                                   uint32_t capacity, uint32_t block);

// The same for an Intel HEX file: data records go to base + address minus
// link_address, and are numbered from 1 (the other record types take no
// number); an end-of-file record ends the load.
[[nodiscard]] int32_t load_hex_records(void *findings, const char *path, uint8_t *image,
                                       uint32_t capacity, uint32_t block);

// The lowest and highest address of the data records of a record file, read
// to its end record or its end; damaged records and stray bytes are passed
// over. False when the file holds no data. For the words that explain a
// failed load.
bool record_data_extent(const char *path, RecordFormat format, uint32_t *low, uint32_t *high);
