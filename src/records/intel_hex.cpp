// Intel HEX records: decoding a line, and patching the module CRC into one.
#include "records/intel_hex.h"

#include <cstring>

#include "byte_order.h"
#include "records/hex.h"
#include "status.h"

namespace {

// Bytes of a record besides its data: count, two address bytes, type, checksum.
constexpr int32_t HEX_FIXED_BYTES = 5;
constexpr int32_t HEX_DATA_AT = 4;  // first data byte, counted from the count byte

constexpr uint8_t TYPE_DATA = 0x00;
constexpr uint8_t TYPE_END = 0x01;
constexpr uint8_t TYPE_SEGMENT_BASE = 0x02;
constexpr uint8_t TYPE_SEGMENT_START = 0x03;
constexpr uint8_t TYPE_LINEAR_BASE = 0x04;
constexpr uint8_t TYPE_LINEAR_START = 0x05;

// The type's characters are the 7th and 8th after the lead.
constexpr int32_t TYPE_CHARS_END = 8;

// The characters after the lead, without the CRs that end the line (CR LF,
// or CR CR LF as some tools write it).
int32_t text_length(const uint8_t *line, int32_t n)
{
    int32_t chars = n - 1;
    while (chars > 0 && line[chars] == '\r')
        chars--;
    return chars;
}

// The record type of a line of chars characters after the lead: the byte
// its characters 7 and 8 spell, or -1 when the line is cut before them or
// they are no hex digits.
int record_type(const uint8_t *line, int32_t chars)
{
    if (chars < TYPE_CHARS_END)
        return -1;
    int hi = hex_digit_value(line[TYPE_CHARS_END - 1]), lo = hex_digit_value(line[TYPE_CHARS_END]);
    return hi < 0 || lo < 0 ? -1 : hi << 4 | lo;
}

// Converts the 2 x bytes hex characters behind the lead of line to bytes at
// out. Byte k is written after characters 1 + 2k and 2 + 2k are read, so out
// may be line + 1: the conversion never overwrites a character still to
// come. False when a character is no hex digit.
bool line_to_bytes(const uint8_t *line, int32_t bytes, uint8_t *out)
{
    for (int32_t k = 0; k < bytes; k++) {
        int hi = hex_digit_value(line[1 + 2 * k]), lo = hex_digit_value(line[2 + 2 * k]);
        if (hi < 0 || lo < 0)
            return false;
        out[k] = uint8_t(hi << 4 | lo);
    }
    return true;
}

}  // namespace

int32_t decode_hex_record(DecodeState *state, uint8_t *buffer, int32_t n)
{
    if (n < 1 || buffer[0] != ':')
        return rec_bad_lead(n < 1 ? 0 : buffer[0]);
    int32_t chars = text_length(buffer, n);
    // A type this decoder does not read makes the line no record of ours,
    // whatever else it holds. Every other ":" line is one of our records,
    // or one that is damaged: its type, or its cut, cannot tell otherwise.
    int type = record_type(buffer, chars);
    if (type > TYPE_LINEAR_START)
        return rec_bad_type(uint8_t(type));
    if (std::memchr(buffer, '\r', size_t(chars) + 1))
        return REC_LINE_END;
    if (chars < 2 * HEX_FIXED_BYTES || chars % 2 != 0)
        return type < 0 && chars >= TYPE_CHARS_END ? REC_BAD_HEX : REC_CUT_SHORT;
    int32_t bytes = chars / 2;
    if (!line_to_bytes(buffer, bytes, buffer + 1))
        return REC_BAD_HEX;
    const uint8_t *b = buffer + 1;
    int32_t count = b[0];
    if (bytes < HEX_FIXED_BYTES + count)
        return REC_CUT_SHORT;
    if (bytes != HEX_FIXED_BYTES + count)
        return REC_BAD_LENGTH;
    if (byte_sum(b, bytes) != 0)
        return REC_BAD_SUM;

    state->length = 0;
    state->data_record = false;
    const uint8_t *value = b + HEX_DATA_AT;
    switch (b[3]) {
    case TYPE_DATA:
        state->count++;
        state->data_record = true;
        state->address = state->base + get_be16(b + 1);
        state->data = value;
        state->length = count;
        return STATUS_OK;
    case TYPE_END:
        return REC_END;
    case TYPE_SEGMENT_BASE:
    case TYPE_LINEAR_BASE:
        if (count != 2)
            return REC_BAD_LENGTH;
        state->base = b[3] == TYPE_SEGMENT_BASE ? uint32_t(get_be16(value)) << 4
                                                : uint32_t(get_be16(value)) << 16;
        return STATUS_OK;
    case TYPE_SEGMENT_START:
    case TYPE_LINEAR_START:
        return count == 4 ? STATUS_OK : REC_BAD_LENGTH;
    default:
        return rec_bad_type(b[3]);
    }
}

int32_t decode_record_of(RecordFormat format, DecodeState *state, uint8_t *buffer, int32_t n)
{
    if (format == RecordFormat::INTEL_HEX)
        return decode_hex_record(state, buffer, n);
    return decode_record(state, buffer, n);
}

bool damaged_record(RecordFormat format, int32_t rc, const uint8_t *buffer)
{
    if (rc == REC_LINE_END)
        return true;
    // The Intel HEX decoder refuses a line of an unknown type before it
    // looks at anything else: every other refusal is damage.
    if (format == RecordFormat::INTEL_HEX)
        return rc == REC_BAD_SUM || rc == REC_CUT_SHORT || rc == REC_BAD_HEX || rc == REC_BAD_LENGTH;
    // S-records and T-records keep their type character.
    return (rc == REC_BAD_SUM || rc == REC_CUT_SHORT) && buffer[1] != 0 &&
           std::strchr("01235789", buffer[1]) != nullptr;
}
