// Writing the module CRC into a record line.
#include "records/record_patch.h"

#include <cstring>

#include "records/hex.h"
#include "records/intel_hex.h"
#include "records/record_reader.h"
#include "record_limits.h"
#include "status.h"

namespace {

// The decoder converts in place; the line itself keeps its characters.
uint8_t scratch[RECORD_BUFFER_SIZE];

// Decodes a copy of the line into scratch, with state's base. True for a
// data record.
bool decode_copy(RecordFormat format, const uint8_t *line, int32_t n, DecodeState *state)
{
    if (n < 1 || n > RECORD_BUFFER_SIZE)
        return false;
    std::memcpy(scratch, line, size_t(n));
    return decode_record_of(format, state, scratch, n) == STATUS_OK && state->data_record;
}

// The CRC over the first two data bytes of a data record line.
int32_t patch_first_bytes(RecordFormat format, uint8_t *line, int32_t n, uint16_t crc)
{
    DecodeState state = {};
    if (!decode_copy(format, line, n, &state) || state.length < 2)
        return REC_BAD_LENGTH;
    return patch_crc_at(format, line, n, 0, state.address, crc);
}

}  // namespace

int32_t patch_crc_at(RecordFormat format, uint8_t *line, int32_t n, uint32_t base, uint32_t link,
                     uint16_t crc)
{
    if (n >= 1 && line[0] == 'T')
        return REC_T_RECORD;
    DecodeState state = {};
    state.base = base;
    if (!decode_copy(format, line, n, &state))
        return REC_BAD_LENGTH;
    // The record's bytes from its count byte on, as decoded, and where the
    // characters of byte 0 stand in the line.
    bool intel = format == RecordFormat::INTEL_HEX;
    uint8_t *bytes = scratch + (intel ? 1 : 2);
    char *text = reinterpret_cast<char *>(line) + (intel ? 1 : 2);
    int32_t data_at = int32_t(state.data - bytes);
    int32_t sum_at = data_at + state.length;
    for (uint32_t k = 0; k < 2; k++) {
        uint32_t i = link + k - state.address;  // wraps to a large value below the record
        if (i >= uint32_t(state.length))
            continue;
        uint8_t value = uint8_t(k == 0 ? crc >> 8 : crc);
        bytes[data_at + int32_t(i)] = value;
        byte_to_hex(value, text + 2 * (data_at + int32_t(i)));
    }
    // S-records carry the one's complement of the byte sum, Intel HEX the
    // two's complement.
    uint8_t sum = byte_sum(bytes, sum_at);
    byte_to_hex(intel ? uint8_t(-sum) : uint8_t(0xFF - sum), text + 2 * sum_at);
    return STATUS_OK;
}

int32_t patch_s_record(uint8_t *line, int32_t n, uint16_t crc)
{
    if (n < 1)
        return REC_BAD_LENGTH;
    if (line[0] != 'S')
        return rec_no_record(line[0]);
    return patch_first_bytes(RecordFormat::S_RECORDS, line, n, crc);
}

int32_t patch_hex_record(uint8_t *line, int32_t n, uint16_t crc)
{
    if (n < 1 || line[0] != ':')
        return REC_BAD_LENGTH;
    return patch_first_bytes(RecordFormat::INTEL_HEX, line, n, crc);
}
