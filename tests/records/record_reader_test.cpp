// Reading and decoding single records.
#include "records/record_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "builders.h"
#include "fixtures.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

// The S1 record of 16 data bytes 00..0F at address 0.
const std::string S1_LINE = "S1130000000102030405060708090A0B0C0D0E0F74";

class RecordReader : public StateTest {
protected:
    void TearDown() override
    {
        close();
        StateTest::TearDown();
    }

    // Opens content as the file to read.
    void open(const Bytes &content)
    {
        close();
        write_file(dir.file("in"), content);
        file = std::fopen(dir.file("in").c_str(), "rb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(record_file_start(&reader, file), STATUS_OK);
    }
    void close()
    {
        if (!file)
            return;
        record_file_stop(&reader);
        std::fclose(file);
        file = nullptr;
    }

    // Reads one record into a buffer of exactly size bytes.
    int32_t read(int32_t size = RECORD_BUFFER_SIZE)
    {
        buffer = std::vector<uint8_t>(size_t(size), 0xEE);  // exactly size bytes
        return read_record(&reader, buffer.data(), size);
    }

    // The rest of a line after REC_LONG_LINE, without its line feed.
    std::string rest_of_line()
    {
        std::string rest;
        uint8_t part[RECORD_BUFFER_SIZE];
        int32_t k;
        do {
            k = read_line_part(&reader, part, RECORD_BUFFER_SIZE);
            rest.append(reinterpret_cast<char *>(part), size_t(k == REC_LONG_LINE ? RECORD_BUFFER_SIZE : k));
        } while (k == REC_LONG_LINE);
        return rest;
    }

    std::string text(int32_t n) const { return std::string(buffer.begin(), buffer.begin() + n); }

    FILE *file = nullptr;
    RecordFile reader{};
    std::vector<uint8_t> buffer;
};

// Decodes a copy of record in a heap block of exactly its size, so that the
// sanitizer catches any read beyond the bytes read.
int32_t decode(DecodeState *state, const Bytes &record, std::vector<uint8_t> *decoded = nullptr)
{
    std::unique_ptr<uint8_t[]> exact(new uint8_t[record.size() + (record.empty() ? 1 : 0)]);
    std::memcpy(exact.get(), record.data(), record.size());
    int32_t rc = decode_record(state, exact.get(), int32_t(record.size()));
    if (decoded)
        decoded->assign(exact.get(), exact.get() + record.size());
    return rc;
}

}  // namespace

TEST_F(RecordReader, LinesEndAtTheLineFeedAndKeepEveryOtherByte)
{
    open(S1_LINE + "\n" + S1_LINE + "\r\n" + std::string("S1\0X", 4) + "\n" + "S9030000FC");
    ASSERT_EQ(read(), 42);
    EXPECT_EQ(text(42), S1_LINE);
    ASSERT_EQ(read(), 43);  // the CR stays in the record
    EXPECT_EQ(text(43), S1_LINE + "\r");
    ASSERT_EQ(read(), 4);  // a NUL byte is data like any other
    EXPECT_EQ(text(4), std::string("S1\0X", 4));
    ASSERT_EQ(read(), 10);  // last line without a line feed
    EXPECT_EQ(text(10), "S9030000FC");
    EXPECT_EQ(read(), 0);
    EXPECT_EQ(read(), 0);
}

TEST_F(RecordReader, StrayBytesAreTakenOneByOne)
{
    open("\n\x1A" "S" "\r");
    int32_t n = read();
    EXPECT_EQ(n, rec_no_record('\n'));
    EXPECT_TRUE(is_stray_byte(n));
    EXPECT_EQ(read(), 0x881A);
    ASSERT_EQ(read(), 2);  // "S" and the CR: a line of two bytes
    EXPECT_EQ(read(), 0);
    EXPECT_FALSE(is_stray_byte(REC_LONG_LINE));
    EXPECT_FALSE(is_stray_byte(42));
    EXPECT_TRUE(is_stray_byte(rec_no_record(0)));
}

TEST_F(RecordReader, TRecordsAreReadByTheirCount)
{
    Bytes t3 = t_record('3', 0x10000, 4, "\x01\n\x03");  // a line feed inside is data
    open(t3 + t3 + "T3");
    ASSERT_EQ(read(), 11);
    EXPECT_EQ(text(11), t3);
    ASSERT_EQ(read(), 11);
    ASSERT_EQ(read(), 2);  // cut short by the end of the file
    EXPECT_EQ(read(), 0);
}

TEST_F(RecordReader, TRecordCutInsideItsData)
{
    Bytes t3 = t_record('3', 0x10000, 4, "ABCDEFGH");
    open(t3.substr(0, 9));
    EXPECT_EQ(read(), 9);
    DecodeState state = {};
    EXPECT_EQ(decode(&state, t3.substr(0, 9)), REC_CUT_SHORT);
    EXPECT_EQ(state.count, 0);
}

TEST_F(RecordReader, LongestRecordLinesAreReadWhole)
{
    // 255 bytes after the count: 514 characters, with a CR 515.
    std::string longest = s_data('1', 0x8000, Bytes(252, '\x5A'));
    ASSERT_EQ(longest.size(), 514u);
    // A line that fills the buffer exactly is still one line.
    std::string full = std::string(1, 'S').append(RECORD_BUFFER_SIZE - 1, '7');
    open(longest + "\r\n" + full + "\n" + full);
    ASSERT_EQ(read(), 515);
    EXPECT_EQ(text(514), longest);
    EXPECT_EQ(read(), RECORD_BUFFER_SIZE);
    EXPECT_EQ(read(), RECORD_BUFFER_SIZE);
    EXPECT_EQ(read(), 0);
}

TEST_F(RecordReader, LongerLinesAreOneUnitToSkipOrCopy)
{
    std::string tail = S1_LINE;  // must not come out as a record of its own
    std::string line = std::string(1, 'S').append(RECORD_BUFFER_SIZE - 1, '0') + tail;
    // Longer than two buffers: the rest comes in more than one part.
    std::string longer = line + std::string(RECORD_BUFFER_SIZE + 7, 'F');
    open(line + "\n" + longer + "\r\n" + S1_LINE + "\n" + line);
    ASSERT_EQ(read(), REC_LONG_LINE);
    EXPECT_EQ(text(RECORD_BUFFER_SIZE), line.substr(0, RECORD_BUFFER_SIZE));
    EXPECT_EQ(rest_of_line(), tail);  // without the line feed

    ASSERT_EQ(read(), REC_LONG_LINE);
    EXPECT_EQ(rest_of_line(), longer.substr(RECORD_BUFFER_SIZE) + "\r");

    ASSERT_EQ(read(), 42);
    EXPECT_EQ(text(42), S1_LINE);
    ASSERT_EQ(read(), REC_LONG_LINE);  // the last line, without a line feed
    EXPECT_EQ(rest_of_line(), tail);
    EXPECT_EQ(read(), 0);
}

TEST_F(RecordReader, SmallestBufferHoldsAnyTRecord)
{
    Bytes t3 = t_record('3', 0, 4, Bytes(250, 'x'));
    open(t3);
    ASSERT_EQ(read(T_RECORD_MAX), T_RECORD_MAX);
    EXPECT_EQ(text(T_RECORD_MAX), t3);
}

TEST(DecodeRecord, SRecordsAreConvertedInPlace)
{
    DecodeState state = {};
    std::vector<uint8_t> out;
    ASSERT_EQ(decode(&state, S1_LINE + "\r", &out), 0);
    EXPECT_EQ(state.count, 1);
    EXPECT_EQ(state.address, 0u);
    EXPECT_EQ(state.length, 16);
    // Lead, type, count byte, address 00 00, data 00..0F, checksum.
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 22),
              hex_bytes("53 31 13 00 00 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 74"));

    // Address widths: S2 three bytes, S3 four; data begins after them.
    ASSERT_EQ(decode(&state, s_data('2', 0x123456, "ab")), 0);
    EXPECT_EQ(state.address, 0x123456u);
    EXPECT_EQ(state.length, 2);
    ASSERT_EQ(decode(&state, s_data('3', 0x89ABCDEF, "abc")), 0);
    EXPECT_EQ(state.address, 0x89ABCDEFu);
    EXPECT_EQ(state.length, 3);
    EXPECT_EQ(state.count, 3);
}

TEST(DecodeRecord, TRecordsDecodeAsTheyAre)
{
    DecodeState state = {};
    Bytes t3 = t_record('3', 0x10000, 4, "xyz");
    std::vector<uint8_t> out;
    ASSERT_EQ(decode(&state, t3, &out), 0);
    EXPECT_EQ(Bytes(out.begin(), out.end()), t3);
    EXPECT_EQ(state.address, 0x10000u);
    EXPECT_EQ(state.length, 3);
    EXPECT_EQ(state.count, 1);
    EXPECT_EQ(decode(&state, hex_bytes("54 37 01 FE")), REC_END);
}

TEST(DecodeRecord, WhatIsCountedAndWhatIsNot)
{
    struct Row {
        Bytes record;
        int32_t rc;
        int32_t counted;
    };
    std::string s5_ok = s_record('5', 0, 2, "");  // S5 with count 0 after none
    Row rows[] = {
        {s_record('0', 0, 2, "HDR"), 0, 0},
        {t_record('0', 0, 0, "thd"), 0, 0},
        {s5_ok, 0, 1},
        {s_record('5', 7, 2, ""), rec_bad_count(0), 1},  // counted, mismatch or not
        {t_record('5', 0, 2, ""), 0, 0},
        {s_record('7', 0, 4, ""), REC_END, 0},
        {s_record('8', 0, 3, ""), REC_END, 0},
        {s_record('9', 0, 2, ""), REC_END, 0},
        {s_record('4', 0, 2, "x"), rec_bad_type('4'), 0},
        {s_record('6', 0, 2, "x"), rec_bad_type('6'), 0},
        {s_record('X', 0, 2, "x"), rec_bad_type('X'), 0},
        {"S1130000000102030405060708090A0B0C0D0E0F75", REC_BAD_SUM, 0},
        {"Q1130000000102030405060708090A0B0C0D0E0F74", rec_bad_lead('Q'), 0},
        {"", REC_BAD_LENGTH, 0},
        {"S11", REC_BAD_LENGTH, 0},
        {S1_LINE.substr(0, 41), REC_CUT_SHORT, 0},  // shorter than its count says
        {hex_bytes("54 33"), REC_BAD_LENGTH, 0},
        // Count too small for the address, with a correct checksum.
        {"S102FFFE", REC_BAD_LENGTH, 0},
        {"S2030000FC", REC_BAD_LENGTH, 0},
        {"S304000000FB", REC_BAD_LENGTH, 0},
        {"S50200FD", REC_BAD_LENGTH, 0},
        {hex_bytes("54 33 04 00 00 00 FB"), REC_BAD_LENGTH, 0},
    };
    for (const Row &row : rows) {
        DecodeState state = {};
        EXPECT_EQ(decode(&state, row.record), row.rc) << row.record;
        EXPECT_EQ(state.count, row.counted) << row.record;
        EXPECT_EQ(state.length, 0) << row.record;
    }
}

TEST(DecodeRecord, S5ComparesWithTheRecordsBeforeIt)
{
    DecodeState state = {};
    ASSERT_EQ(decode(&state, s_data('1', 0, "a")), 0);
    ASSERT_EQ(decode(&state, s_data('1', 1, "b")), 0);
    EXPECT_EQ(decode(&state, s_record('5', 2, 2, "")), 0);
    EXPECT_EQ(state.count, 3);
    EXPECT_EQ(decode(&state, s_record('5', 2, 2, "")), rec_bad_count(3));
    EXPECT_EQ(rec_bad_count(3), 0x348);
    EXPECT_EQ(state.count, 4);
}

TEST(DecodeRecord, NonHexCharactersReadAsZero)
{
    DecodeState state = {};
    // "0a" reads as 00; the checksum matches the values so read.
    std::string lower = s_data('1', 0, Bytes(1, '\0'));
    lower[8] = '0';
    lower[9] = 'a';
    std::vector<uint8_t> out;
    EXPECT_EQ(decode(&state, lower, &out), 0);
    EXPECT_EQ(out[5], 0);
    // A record with real lower-case data fails its checksum.
    std::string text = s_data('1', 0, "\xAB");
    text[8] = 'a';
    text[9] = 'b';
    EXPECT_EQ(decode(&state, text), REC_BAD_SUM);
}

TEST(DecodeRecord, EveryPrefixOfARecordIsSafe)
{
    std::string s3 = s_data('3', 0x80000000, Bytes(40, '\x11'));
    Bytes t3 = t_record('3', 0x80000000, 4, Bytes(40, '\x11'));
    for (const Bytes &record : {Bytes(s3), t3, Bytes(S1_LINE)}) {
        for (size_t n = 0; n <= record.size(); n++) {
            DecodeState state = {};
            int32_t rc = decode(&state, record.substr(0, n));
            // Only the whole record is accepted; a prefix that holds its
            // count is cut short, one that does not is no record at all.
            int32_t head = record[0] == 'S' ? 4 : 3;
            EXPECT_EQ(rc, n == record.size() ? 0 : int(n) < head ? REC_BAD_LENGTH : REC_CUT_SHORT)
                << n;
        }
    }
}

TEST_F(RecordReader, EveryPrefixOfAFileReadsAndDecodesSafely)
{
    std::string s_text = s_record('0', 0, 2, "HDR") + "\r\n" + S1_LINE + "\n\n" +
                         s_data('3', 0x8000, Bytes(200, '\x42')) + "\n" +
                         s_record('5', 2, 2, "") + "\n" + s_record('9', 0, 2, "");
    Bytes t_text = t_record('0', 0, 0, Bytes(20, 'D')) + t_record('3', 0, 4, Bytes(250, 'x')) +
                   "\n" + t_record('3', 250, 4, "yz") + hex_bytes("54 37 01 FE");
    for (const Bytes &whole : {Bytes(s_text), t_text}) {
        for (size_t n = 0; n <= whole.size(); n++) {
            open(whole.substr(0, n));
            DecodeState state = {};
            int32_t records = 0;
            for (int32_t r; (r = read()) != 0;) {
                ASSERT_LE(records++, int32_t(n)) << "no progress at prefix " << n;
                if (r == REC_LONG_LINE || is_stray_byte(r))
                    continue;
                ASSERT_GT(r, 0);
                ASSERT_LE(r, RECORD_BUFFER_SIZE);
                (void)decode(&state, Bytes(buffer.begin(), buffer.begin() + r));
            }
        }
    }
}

namespace {

// Everything the reader gives for a whole file, one line per record: the
// result and the bytes it put into the buffer, and after REC_LONG_LINE the
// rest of the line.
std::string transcript(const Bytes &content)
{
    Bytes copy = content;
    FILE *in = fmemopen(copy.data(), copy.size(), "rb");
    EXPECT_NE(in, nullptr);
    RecordFile reader;
    EXPECT_EQ(record_file_start(&reader, in), 0);
    std::string said;
    uint8_t buffer[RECORD_BUFFER_SIZE];
    for (int32_t n; (n = read_record(&reader, buffer, RECORD_BUFFER_SIZE)) != 0;) {
        said += std::to_string(n) + ":";
        if (n == REC_LONG_LINE) {
            said.append(reinterpret_cast<char *>(buffer), RECORD_BUFFER_SIZE);
            int32_t k;
            do {
                k = read_line_part(&reader, buffer, RECORD_BUFFER_SIZE);
                said.append(reinterpret_cast<char *>(buffer), size_t(k == REC_LONG_LINE ? RECORD_BUFFER_SIZE : k));
            } while (k == REC_LONG_LINE);
        } else if (!is_stray_byte(n)) {
            said.append(reinterpret_cast<char *>(buffer), size_t(n));
        }
        said += "\n";
    }
    record_file_stop(&reader);
    std::fclose(in);
    return said;
}

// The transcript line of a record of the given bytes, of a long line, and of a stray byte.
std::string said(const Bytes &record) { return std::to_string(record.size()) + ":" + record + "\n"; }
std::string said_long(const Bytes &line) { return std::to_string(REC_LONG_LINE) + ":" + line + "\n"; }
std::string said_stray(char c) { return std::to_string(rec_no_record(uint8_t(c))) + ":\n"; }

// S0 lines of exactly length bytes in all (at least 3), line feeds
// included, and what the reader says of them.
struct Filler {
    Bytes text;
    std::string transcript;
};

Filler filler(size_t length)
{
    Filler f;
    while (length - f.text.size() > 200) {
        std::string line = "S0" + std::string(97, 'F');
        f.text += line + "\n";
        f.transcript += said(line);
    }
    std::string line = "S0" + std::string(length - f.text.size() - 3, 'E');
    f.text += line + "\n";
    f.transcript += said(line);
    return f;
}

}  // namespace

TEST(RecordFile, RecordsAcrossTheBlockBoundary)
{
    // Each piece is placed so that it starts from a little before to just
    // after the first block boundary: its line feed, a CR LF pair, a
    // T-record's head or data, the byte after a full record buffer, or a
    // stray byte then falls on either side of the boundary.
    std::string full = std::string(1, 'S').append(RECORD_BUFFER_SIZE - 1, '7');
    Bytes t_lf = t_record('3', 0x10000, 4, "\n\x01\x02\x03\n"), t_empty = t_record('3', 0, 4, "");
    const Bytes tail = "S9030000FC\n";
    struct Piece {
        Bytes text;
        std::string transcript;  // of the piece and the tail behind it
        size_t before;           // start the piece up to this many bytes before the boundary
    };
    Piece pieces[] = {
        {S1_LINE + "\r\n", said(S1_LINE + "\r") + said("S9030000FC"), 46},
        {t_lf + t_empty + "\n", said(t_lf) + said(t_empty) + said_stray('\n') + said("S9030000FC"), 25},
        {full + "\n" + full + "Z\r\n", said(full) + said_long(full + "Z\r") + said("S9030000FC"),
         RECORD_BUFFER_SIZE + 4},
        // A line without its line end runs on into the tail.
        {"\n\x1A" + S1_LINE, said_stray('\n') + said_stray('\x1A') + said(S1_LINE + "S9030000FC"), 4},
    };
    for (const Piece &piece : pieces) {
        for (size_t before = 0; before <= piece.before; before++) {
            for (size_t after : {size_t(0), size_t(1)}) {
                size_t start = RECORD_BLOCK - before + after;
                Filler f = filler(start);
                ASSERT_EQ(transcript(f.text + piece.text + tail), f.transcript + piece.transcript)
                    << "piece starting at " << start << ": " << piece.text.substr(0, 20);
            }
        }
    }
}

TEST(RecordFile, FilesOfWholeBlocks)
{
    // The file ends exactly at a block end: after a line feed, without one,
    // inside a T-record, and inside a long line.
    Bytes cut_t = t_record('3', 0, 4, "abcdef").substr(0, 7);
    std::string long_line = std::string(1, 'S').append(RECORD_BUFFER_SIZE + 10, '1');
    struct End {
        Bytes text;
        std::string last;
    };
    End ends[] = {
        {S1_LINE + "\n", said(S1_LINE)},
        {S1_LINE, said(S1_LINE)},
        {cut_t, said(cut_t)},
        {long_line, said_long(long_line)},
    };
    for (size_t blocks : {size_t(1), size_t(2)}) {
        for (const End &end : ends) {
            Filler f = filler(blocks * RECORD_BLOCK - end.text.size());
            ASSERT_EQ(f.text.size() + end.text.size(), blocks * RECORD_BLOCK);
            EXPECT_EQ(transcript(f.text + end.text), f.transcript + end.last)
                << blocks << " " << end.last.substr(0, 12);
        }
    }
    EXPECT_EQ(transcript(""), "");
}

TEST(RecordChecksum, IsTheComplementOfTheByteSum)
{
    // Every length a record has and well beyond, over bytes that carry in
    // every lane.
    std::vector<uint8_t> bytes(2100);
    for (int fill : {0x00, 0xFF, 0x80, -1}) {
        for (size_t i = 0; i < bytes.size(); i++)
            bytes[i] = uint8_t(fill >= 0 ? fill : (i * 151 + 7) ^ (i >> 3));
        for (int32_t n = 0; n <= int32_t(bytes.size()); n++) {
            unsigned sum = 0;
            for (int32_t i = 0; i < n; i++)
                sum += bytes[size_t(i)];
            ASSERT_EQ(record_checksum(bytes.data(), n), uint8_t(0xFF - (sum & 0xFF)))
                << "fill " << fill << ", " << n << " bytes";
        }
    }
}
