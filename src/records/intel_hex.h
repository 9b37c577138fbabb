// Intel HEX records: decoding a line.
//
//   FIELD     CHARACTERS      MEANING
//   lead      ":"
//   count     2 hex           number of data bytes, 0 to 255
//   address   4 hex           16-bit offset, big-endian
//   type      2 hex           00 data, 01 end of file, 02 extended segment
//                             address (base = value x 16), 03 start segment
//                             address, 04 extended linear address (base =
//                             value << 16), 05 start linear address
//   data      2 x count hex
//   checksum  2 hex           two's complement of the 8-bit sum of the
//                             bytes before it: all bytes sum to 0
//   line end  LF or CR LF (or none on the last line)
//
// A data record belongs at base + address. Hex digits may be of either
// case; every other character makes the record no record.
#pragma once

#include <cstdint>

#include "records/record_reader.h"

// Checks and decodes the n bytes of the ":" line in buffer (a CR at its
// end is no part of it), converting it in place to its bytes from position
// 1 on. Returns 0 (accepted), REC_END for an end-of-file record, or a
// rejection code: REC_BAD_LENGTH (the count disagrees with the line, or a
// 02, 03, 04 or 05 record of the wrong size), REC_BAD_SUM, REC_BAD_HEX,
// rec_bad_type. An accepted data record advances count and sets address
// (base + offset), data and length; 02 and 04 records set base. Nothing
// beyond the n bytes is read.
[[nodiscard]] int32_t decode_hex_record(DecodeState *state, uint8_t *buffer, int32_t n);

// Decodes a record of a file of the given format: decode_hex_record for
// Intel HEX, decode_record for S-records and T-records.
[[nodiscard]] int32_t decode_record_of(RecordFormat format, DecodeState *state, uint8_t *buffer,
                                       int32_t n);

// Whether the record that decode_record_of has just refused as REC_BAD_SUM
// or REC_CUT_SHORT is of a type the decoder reads (S-records and T-records
// 0, 1, 2, 3, 5, 7, 8, 9; Intel HEX 00 to 05): a damaged record, not bytes
// that only look like one.
bool known_record_type(RecordFormat format, const uint8_t *buffer);
