// Reading and decoding S-records and T-records, one at a time.
#pragma once

#include <cstdint>
#include <cstdio>

// Decoder state for one file.
struct DecodeState {
    int32_t count;        // data records and checked S5 records so far
    uint32_t address;     // address of the last data record
    const uint8_t *data;  // first data byte of the last data record
    int32_t length;       // data bytes of the last accepted record, 0 if no data
};

// Reads the next record into buffer. Returns 0 at the end of the file, the
// number of bytes read (an S-record line without its line feed, a T-record
// with its lead, type and count), rec_no_record(byte) for a stray byte, or
// REC_LONG_LINE for a line longer than any valid record.
[[nodiscard]] int32_t read_record(FILE *file, uint8_t *buffer, int32_t size);

// Checks and decodes the n bytes of the record in buffer (an S-record is
// converted in place to the T-record layout). Returns 0, REC_END or a
// rejection code.
[[nodiscard]] int32_t decode_record(DecodeState *state, uint8_t *buffer, int32_t n);
