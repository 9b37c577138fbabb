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

// Checks and decodes the n bytes of the ":" line in buffer (the CRs that
// end it are no part of it), converting it in place to its bytes from
// position 1 on. Returns 0 (accepted), REC_END for an end-of-file record,
// rec_bad_type for a line whose type field spells a type above 05 (no
// record of ours, whatever else it holds), or, for every other line, what
// is wrong with it: REC_LINE_END (a CR inside it), REC_BAD_HEX (a character
// that is no hex digit), REC_CUT_SHORT (fewer characters than its count
// says, or an odd number), REC_BAD_LENGTH (more, or a 02, 03, 04 or 05
// record of the wrong size), REC_BAD_SUM. An accepted data record advances
// count and sets address (base + offset), data and length; 02 and 04
// records set base. Nothing beyond the n bytes is read.
[[nodiscard]] int32_t decode_hex_record(DecodeState *state, uint8_t *buffer, int32_t n);

// Decodes a record of a file of the given format: decode_hex_record for
// Intel HEX, decode_record for S-records and T-records.
[[nodiscard]] int32_t decode_record_of(RecordFormat format, DecodeState *state, uint8_t *buffer,
                                       int32_t n);

// Whether a line that decode_record_of has just refused with rc is a
// damaged record, whose bytes would be missing from the module, rather
// than bytes that only look like one: an Intel HEX line of type 00 to 05
// (or of a type that cannot be read) refused for any reason; an S-record
// or T-record of a type the decoder reads (0, 1, 2, 3, 5, 7, 8, 9) whose
// checksum is wrong or that is cut short; and any line with a CR inside it,
// a line end the reader does not take for one.
bool damaged_record(RecordFormat format, int32_t rc, const uint8_t *buffer);
