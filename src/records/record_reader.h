// Reading and decoding S-records and T-records, one at a time.
//
// Both formats carry the same fields; an S-record spells every byte after
// the type as two upper-case hex characters, a T-record holds the bytes:
//
//   FIELD     S-RECORD (TEXT)              T-RECORD (BYTES)
//   lead      "S"                          0x54 "T"
//   type      "0" to "9"                   the same ASCII digit
//   count     2 hex characters             1 byte: bytes after it
//   address   2, 3 or 4 bytes by type      the same bytes
//   data      count - address width - 1    the same bytes
//   checksum  2 hex characters             1 byte
//   line end  LF or CR LF                  none
//
// The checksum is the one's complement of the 8-bit sum of count, address
// and data. Types: 0 header (ignored), 1/2/3 data with a 2/3/4-byte address,
// 5 record count (S5 checked, T5 ignored), 7/8/9 end; everything else is
// rejected. After decode_record an S-record lies in the buffer in the
// T-record layout: lead, type, count byte, then the count bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "record_format.h"
#include "status.h"

// Decoder state for one file.
struct DecodeState {
    int32_t count;        // data records and checked S5 records so far
    uint32_t address;     // address of the last data record
    const uint8_t *data;  // first data byte of the last data record
    int32_t length;       // data bytes of the last accepted record, 0 if no data
    bool data_record;     // the last accepted record was a data record
    uint32_t base;        // Intel HEX: the base address of the records that follow
};

// Longest T-record: lead, type, count and 255 bytes. The buffer given to
// read_record must hold at least this much.
constexpr int32_t T_RECORD_MAX = 3 + 255;

// Bytes a RecordFile takes from its file at a time.
constexpr size_t RECORD_BLOCK = 16384;

// line_lead inside a line of text that began with "T": no byte begins a
// record there, and the bytes up to its line feed are stray.
constexpr int IN_TEXT = 256;

// A record file read through one heap block of RECORD_BLOCK bytes: records
// are cut out of the block, and lines are found with memchr instead of
// byte-by-byte stream reads.
struct RecordFile {
    FILE *file;       // open "rb"; its error flag tells a read error apart
    uint8_t *block;   // RECORD_BLOCK bytes from the heap
    size_t at;        // next byte of the block to take
    size_t end;       // bytes in the block
    uint64_t base;    // offset in the file of the block's first byte
    bool line_ended;  // the last record line or line part ended at a line feed
    int line_lead;    // the byte a record line begins with: "S" or ":", or IN_TEXT
    RecordFormat format;
};

// Starts reading file, whose next byte is at offset at (0 for a file not
// read from yet). Returns 0, or ERR_NO_MEMORY when the block cannot be
// allocated.
[[nodiscard]] int32_t record_file_start(RecordFile *reader, FILE *file, uint64_t at = 0,
                                        RecordFormat format = RecordFormat::S_RECORDS);

// Offset in the file of the next byte read_record takes.
inline uint64_t record_file_offset(const RecordFile *reader) { return reader->base + reader->at; }

// Frees the block; the file stays open.
void record_file_stop(RecordFile *reader);

// Reads the next record into buffer (size bytes, at least T_RECORD_MAX).
// Returns 0 at the end of the file; for an S-record (or an Intel HEX
// record) the number of bytes of its line without the line feed (a CR
// before it is kept, and so is any other byte, NUL included); for a
// T-record the bytes read, count + 3 unless the file ended first;
// rec_no_record(byte) for a byte that starts no record of the file's format
// (the byte is taken), and so for every byte of a line of text that begins
// with a "T" and a character that is no digit, up to and with its line feed;
// REC_LONG_LINE for a line longer than size. After
// REC_LONG_LINE the buffer holds the first size bytes of the line;
// read_line_part takes the rest of it.
[[nodiscard]] int32_t read_record(RecordFile *reader, uint8_t *buffer, int32_t size);

// Continues a line after REC_LONG_LINE: puts its next bytes into buffer and
// returns their count when the line ends within size bytes (its line feed
// is taken, not stored) or at the end of the file; returns REC_LONG_LINE when
// the buffer is full and the line goes on.
[[nodiscard]] int32_t read_line_part(RecordFile *reader, uint8_t *buffer, int32_t size);

// True for a read_record result that is a stray byte (rec_no_record).
inline bool is_stray_byte(int32_t result) { return (result & ~0xFF) == rec_no_record(0); }

// Whether the data of the data record last decoded holds the byte at address.
inline bool data_holds(const DecodeState &state, uint32_t address)
{
    return state.data_record && address - state.address < uint32_t(state.length);
}

// Whether the copy of a record file writes a line feed after a record whose
// line ended (or not) at a line feed: an S-record file gets one after every
// record, its last line and its T-records included; an Intel HEX file keeps
// its line ends exactly.
inline bool copy_writes_line_feed(RecordFormat format, bool line_ended)
{
    return format == RecordFormat::S_RECORDS || line_ended;
}

// Whether the copy reproduces a record (or a line too long to be one) with
// the given lead byte exactly as it stands in the file, line end included.
// A T-record has no line end of its own; a line record had one when its
// line ended at a line feed.
inline bool copy_keeps_as_read(RecordFormat format, uint8_t lead, bool line_ended)
{
    bool had_line_feed = lead != 'T' && line_ended;
    return copy_writes_line_feed(format, line_ended) == had_line_feed;
}

// The byte sum of a record: its checksum is the complement of it (ones' for
// S-records and T-records, two's for Intel HEX), taken to 8 bits.
uint8_t byte_sum(const uint8_t *bytes, int32_t n);

// The checksum of a record: the one's complement of the 8-bit sum of its n
// bytes from the count byte on (count, address and data).
uint8_t record_checksum(const uint8_t *bytes, int32_t n);

// Checks and decodes the n bytes of the record in buffer; an S-record is
// converted in place to the T-record layout. Returns 0 (accepted), REC_END,
// or a rejection code: rec_bad_lead, REC_BAD_LENGTH (a count too small for
// the address, or too few bytes to hold a count), REC_CUT_SHORT (fewer
// bytes than the count declares), REC_BAD_SUM, REC_LINE_END (an S-record
// line holds a CR behind its characters that is followed by more than CRs:
// a lone CR ended a record there), rec_bad_type, rec_bad_count. Nothing
// beyond the n bytes is read. An
// accepted data record sets address, data and length; a data record or an S5
// record with a correct checksum advances count, even when the S5 count
// does not match.
[[nodiscard]] int32_t decode_record(DecodeState *state, uint8_t *buffer, int32_t n);

