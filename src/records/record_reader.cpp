// Reading and decoding S-records and T-records, one at a time.
#include "records/record_reader.h"

#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "records/hex.h"
#include "status.h"

namespace {

// Bytes in front of the address of a decoded record: lead, type, count.
constexpr int32_t RECORD_HEAD = 3;

// Count byte of a record: address width + data + checksum. A data or S5
// record needs at least its address and the checksum.
bool count_holds_address(int32_t count, int32_t address_width) { return count >= address_width + 1; }

// Refills an empty block. False at the end of the file (or on a read error,
// which the caller tells apart by the stream's error flag).
bool refill(RecordFile *reader)
{
    reader->base += reader->end;
    reader->at = 0;
    reader->end = std::fread(reader->block, 1, RECORD_BLOCK, reader->file);
    return reader->end > 0;
}

// True when a byte is there to take, refilling the block when needed.
inline bool have_byte(RecordFile *reader) { return reader->at < reader->end || refill(reader); }

// Copies up to n bytes to out, across blocks; returns the count copied,
// short only at the end of the file.
size_t take_bytes(RecordFile *reader, uint8_t *out, size_t n)
{
    size_t done = 0;
    while (done < n && have_byte(reader)) {
        size_t k = reader->end - reader->at;
        if (k > n - done)
            k = n - done;
        std::memcpy(out + done, reader->block + reader->at, k);
        reader->at += k;
        done += k;
    }
    return done;
}

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

// Whether the tail of a line holds a CR followed by anything but CRs.
bool glued_line(const uint8_t *tail, int32_t n)
{
    const auto *cr = static_cast<const uint8_t *>(std::memchr(tail, '\r', size_t(n)));
    if (!cr)
        return false;
    for (const uint8_t *p = cr; p < tail + n; p++)
        if (*p != '\r')
            return true;
    return false;
}

}  // namespace

int32_t record_file_start(RecordFile *reader, FILE *file, uint64_t at, RecordFormat format)
{
    reader->format = format;
    reader->file = file;
    reader->at = 0;
    reader->end = 0;
    reader->base = at;
    reader->line_ended = false;
    reader->line_lead = format == RecordFormat::S_RECORDS ? 'S' : ':';
    reader->block = static_cast<uint8_t *>(std::malloc(RECORD_BLOCK));
    return reader->block ? STATUS_OK : ERR_NO_MEMORY;
}

void record_file_stop(RecordFile *reader)
{
    std::free(reader->block);
    reader->block = nullptr;
    reader->at = reader->end = 0;
}

int32_t read_line_part(RecordFile *reader, uint8_t *buffer, int32_t size)
{
    size_t n = 0;
    size_t room = size_t(size);
    reader->line_ended = false;
    while (n < room) {
        if (!have_byte(reader))
            return int32_t(n);  // the last line ends with the file
        const uint8_t *from = reader->block + reader->at;
        size_t look = reader->end - reader->at;
        if (look > room - n)
            look = room - n;
        const auto *lf = static_cast<const uint8_t *>(std::memchr(from, '\n', look));
        size_t k = lf ? size_t(lf - from) : look;
        std::memcpy(buffer + n, from, k);
        n += k;
        reader->at += k;
        if (lf) {
            reader->at++;  // the line feed is taken, not stored
            reader->line_ended = true;
            return int32_t(n);
        }
    }
    // The buffer is full: either the line ends right here or it goes on.
    if (!have_byte(reader))
        return int32_t(n);
    if (reader->block[reader->at] == '\n') {
        reader->at++;
        reader->line_ended = true;
        return int32_t(n);
    }
    return REC_LONG_LINE;
}

int32_t read_record(RecordFile *reader, uint8_t *buffer, int32_t size)
{
    if (!have_byte(reader))
        return 0;
    uint8_t c = reader->block[reader->at++];
    // A line record: an S-record, or an Intel HEX record in a file of those.
    if (c == reader->line_lead) {
        buffer[0] = c;
        int32_t n = read_line_part(reader, buffer + 1, size - 1);
        return n == REC_LONG_LINE ? n : n + 1;
    }
    bool s_records = reader->format == RecordFormat::S_RECORDS;
    if (reader->line_lead == IN_TEXT) {
        if (c == '\n')
            reader->line_lead = s_records ? 'S' : ':';
        return rec_no_record(c);
    }
    if (c == 'T' && s_records) {
        // A T-record's type is a digit. A "T" before anything else begins a
        // line of text: it and the rest of its line are stray bytes, and the
        // records after it are read as records.
        if (have_byte(reader) && !is_digit(reader->block[reader->at])) {
            if (reader->block[reader->at] != '\n')
                reader->line_lead = IN_TEXT;
            return rec_no_record(c);
        }
        buffer[0] = 'T';
        int32_t n = 1 + int32_t(take_bytes(reader, buffer + 1, RECORD_HEAD - 1));
        if (n < RECORD_HEAD)
            return n;  // cut short; decode_record rejects it
        size_t want = buffer[2];
        size_t room = size_t(size - RECORD_HEAD);
        if (want > room)
            want = room;
        return n + int32_t(take_bytes(reader, buffer + RECORD_HEAD, want));
    }
    return rec_no_record(c);
}



uint8_t record_checksum(const uint8_t *bytes, int32_t n) { return uint8_t(0xFF - byte_sum(bytes, n)); }

uint8_t byte_sum(const uint8_t *bytes, int32_t n)
{
    // Eight bytes at a time, the even and the odd ones in the 16-bit lanes
    // of two sums that do not wait for each other. A piece of 256 bytes
    // brings a lane of even + odd to 64 x 255 at most, and three lanes
    // together stay below 2^16.
    constexpr uint64_t LOW_BYTES = 0x00FF00FF00FF00FFu;
    uint32_t sum = 0;
    int32_t i = 0;
    while (i + 8 <= n) {
        int32_t piece_end = n - i > 256 ? i + 256 : n;
        uint64_t even = 0, odd = 0;
        for (; i + 8 <= piece_end; i += 8) {
            uint64_t word;
            std::memcpy(&word, bytes + i, 8);
            even += word & LOW_BYTES;
            odd += (word >> 8) & LOW_BYTES;
        }
        // The multiplication gathers the four lanes into the top one; the
        // partial sums below it carry nothing into it.
        sum += uint32_t(((even + odd) * 0x0001000100010001u) >> 48);
    }
    for (; i < n; i++)
        sum += bytes[i];
    return uint8_t(sum);
}

int32_t decode_record(DecodeState *state, uint8_t *buffer, int32_t n)
{
    if (n < 1)
        return REC_BAD_LENGTH;
    uint8_t lead = buffer[0];
    int32_t count;
    int32_t tail = 0;  // bytes of the line behind an S-record's own characters
    if (lead == 'S') {
        // "S", type, two count characters, then 2 x count characters.
        if (n < 4)
            return REC_BAD_LENGTH;
        count = hex_pair(buffer + 2);
        tail = n - 4 - 2 * count;
        if (tail < 0)
            return REC_CUT_SHORT;
        buffer[2] = uint8_t(count);
        hex_to_bytes(2 * count, buffer + 4, buffer + RECORD_HEAD);
    } else if (lead == 'T') {
        if (n < RECORD_HEAD)
            return REC_BAD_LENGTH;
        count = buffer[2];
        if (n < RECORD_HEAD + count)
            return REC_CUT_SHORT;
    } else {
        return rec_bad_lead(lead);
    }

    if (record_checksum(buffer + 2, count) != buffer[2 + count])
        return REC_BAD_SUM;
    // Behind an S-record's own characters a line may hold more; a CR there
    // that is not one of the CRs ending the line ends a record the reader
    // took for part of this one.
    if (tail > 1 && glued_line(buffer + n - tail, tail))
        return REC_LINE_END;

    state->length = 0;
    state->data_record = false;
    uint8_t type = buffer[1];
    if (type < '0' || type > '9')
        return rec_bad_type(type);
    const uint8_t *address = buffer + RECORD_HEAD;
    switch (type) {
    case '1':
    case '2':
    case '3': {
        int32_t width = type - '0' + 1;
        if (!count_holds_address(count, width))
            return REC_BAD_LENGTH;
        state->count++;
        state->data_record = true;
        state->length = count - width - 1;
        state->address = 0;
        for (int32_t i = 0; i < width; i++)
            state->address = (state->address << 8) | address[i];
        state->data = address + width;
        return STATUS_OK;
    }
    case '5': {
        if (lead == 'T')
            return STATUS_OK;
        if (!count_holds_address(count, 2))
            return REC_BAD_LENGTH;
        int32_t before = state->count++;
        if (uint32_t(before) == get_be16(address))
            return STATUS_OK;
        return rec_bad_count(before);
    }
    case '0':
        return STATUS_OK;
    case '7':
    case '8':
    case '9':
        return REC_END;
    default:
        return rec_bad_type(type);
    }
}
