// Writing the module CRC into one record line: an S-record or an Intel HEX
// data record. Only the hex characters of the bytes that change and of the
// checksum are rewritten, in upper case; every other byte of the line, the
// case of the other digits and the line end included, stays as it is.
#pragma once

#include <cstdint>

#include "record_format.h"

// Writes the CRC's two bytes, which belong at address link and link + 1,
// wherever they fall among the data of the data record line of n bytes
// (none, one or both of them), and sets the record's checksum to match. An
// Intel HEX record's address adds to base, the base address in effect where
// it stands. Returns 0; REC_T_RECORD for a T-record, which has no
// characters to patch; or REC_BAD_LENGTH when the line is not a data record
// that decodes.
[[nodiscard]] int32_t patch_crc_at(RecordFormat format, uint8_t *line, int32_t n, uint32_t base,
                                   uint32_t link, uint16_t crc);

// The link record's patch: crc over the first two data bytes of the S1, S2
// or S3 line of n bytes. Returns 0, rec_no_record(first byte) when the line
// is not an S-record, or REC_BAD_LENGTH when it is not a data record with at
// least two data bytes within the n bytes.
[[nodiscard]] int32_t patch_s_record(uint8_t *line, int32_t n, uint16_t crc);

// The same for the Intel HEX data record line of n bytes; REC_BAD_LENGTH
// for any other line.
[[nodiscard]] int32_t patch_hex_record(uint8_t *line, int32_t n, uint16_t crc);
