// Writing the module CRC into a record line.
#include "records/record_patch.h"

#include <gtest/gtest.h>

#include <string>

#include "builders.h"
#include "status.h"
#include "test_support.h"

namespace {

int32_t patch(std::string *line, uint16_t crc)
{
    return patch_hex_record(reinterpret_cast<uint8_t *>(line->data()), int32_t(line->size()), crc);
}

}  // namespace

TEST(PatchSRecord, CrcAndChecksumReplaceSixCharacters)
{
    // Address 0, header bytes FF FF 7F FF 87 CD F0 0F: FFFF becomes 3DBB and
    // the checksum grows by FF + FF - 3D - BB = 06.
    std::string line = s_data('1', 0, hex_bytes("FF FF 7F FF 87 CD F0 0F"));
    ASSERT_EQ(line, "S10B0000FFFF7FFF87CDF00F25");
    ASSERT_EQ(patch_s_record(reinterpret_cast<uint8_t *>(line.data()), int32_t(line.size()), 0x3DBB),
              0);
    EXPECT_EQ(line, "S10B00003DBB7FFF87CDF00F2B");

    // S2 and S3 data start after their wider addresses. The line keeps its
    // length and its CR, and other characters their case ("0a" reads as 00).
    for (char type : {'2', '3'}) {
        size_t data_at = size_t(2 * (type - '0') + 6);
        std::string s = s_data(type, 0x8000, hex_bytes("12 34 00")) + "\r";
        std::string expected = s_data(type, 0x8000, hex_bytes("A0 05 00")) + "\r";
        s[data_at + 5] = 'a';
        expected[data_at + 5] = 'a';
        ASSERT_EQ(patch_s_record(reinterpret_cast<uint8_t *>(s.data()), int32_t(s.size()), 0xA005), 0);
        EXPECT_EQ(s, expected) << type;
    }
}

TEST(PatchSRecord, RecordsWithoutRoomForTheCrcAreLeftAlone)
{
    struct Row {
        Bytes line;
        int32_t rc;
    };
    Row rows[] = {
        {t_record('3', 0x8000, 4, "ab"), REC_T_RECORD},    // 34900: a T-record
        {s_data('1', 0x8000, "a"), REC_BAD_LENGTH},        // one data byte
        {s_data('3', 0x8000, ""), REC_BAD_LENGTH},         // none
        {s_record('0', 0x8000, 2, "abcd"), REC_BAD_LENGTH},  // not a data record
        {s_data('1', 0x8000, "ab").substr(0, 13), REC_BAD_LENGTH},  // cut short
        {"S1", REC_BAD_LENGTH},
        {"", REC_BAD_LENGTH},
    };
    for (const Row &row : rows) {
        Bytes line = row.line;
        EXPECT_EQ(patch_s_record(reinterpret_cast<uint8_t *>(line.data()), int32_t(line.size()), 0x1234),
                  row.rc)
            << row.line;
        EXPECT_EQ(line, row.line);
    }
}

TEST(PatchHexRecord, CrcAndChecksumReplaceSixCharacters)
{
    std::string line = ihex_record(0x00, 0x8000, hex_bytes("FF FF 7F FF 87 CD F0 0F"));
    ASSERT_EQ(line, ":08800000FFFF7FFF87CDF00FA9");
    ASSERT_EQ(patch(&line, 0x3DBB), STATUS_OK);
    EXPECT_EQ(line, ihex_record(0x00, 0x8000, hex_bytes("3D BB 7F FF 87 CD F0 0F")));
    // FF FF become 3D BB: the byte sum falls by 0x106, the checksum rises by 06.
    EXPECT_EQ(line, ":088000003DBB7FFF87CDF00FAF");

    // The CR and the case of the other characters stay.
    std::string crlf = ihex_record(0x00, 0x8000, hex_bytes("12 34 AB")) + "\r";
    crlf[13] = 'a';
    ASSERT_EQ(patch(&crlf, 0xA005), STATUS_OK);
    std::string expected = ihex_record(0x00, 0x8000, hex_bytes("A0 05 AB")) + "\r";
    expected[13] = 'a';
    EXPECT_EQ(crlf, expected);

    // No room for the CRC, or no data record: nothing changes.
    for (std::string refused : {ihex_record(0x00, 0x8000, "a"), ihex_record(0x00, 0x8000, ""),
                                ihex_linear_base(0x10000), std::string(":0")}) {
        std::string before = refused;
        EXPECT_EQ(patch(&refused, 0x1234), REC_BAD_LENGTH) << before;
        EXPECT_EQ(refused, before);
    }
}

TEST(PatchCrcAt, TheCrcGoesWhereverItsBytesFall)
{
    // The CRC A0 05 belongs at 8010 and 8011; a record of four data bytes
    // takes none, one or both of them, and its checksum follows.
    struct Row {
        uint32_t address;  // of the record's first data byte
        Bytes after;       // its data with the CRC's bytes in
    } rows[] = {
        {0x8010, "\xA0\x05" "cd"}, {0x800F, "a\xA0\x05" "d"}, {0x800E, "ab\xA0\x05"},
        {0x800D, "abc\xA0"},      {0x8011, "\x05" "bcd"},    {0x8014, "abcd"},
        {0x8008, "abcd"},
    };
    for (const Row &row : rows) {
        std::string s = s_data('3', row.address, "abcd");
        ASSERT_EQ(patch_crc_at(RecordFormat::S_RECORDS, reinterpret_cast<uint8_t *>(s.data()),
                               int32_t(s.size()), 0, 0x8010, 0xA005), STATUS_OK);
        EXPECT_EQ(s, s_data('3', row.address, row.after)) << std::hex << row.address;
        // Intel HEX: the address adds to the base of the last 04 record.
        std::string h = ihex_record(0x00, uint16_t(row.address - 0x8000), "abcd");
        ASSERT_EQ(patch_crc_at(RecordFormat::INTEL_HEX, reinterpret_cast<uint8_t *>(h.data()),
                               int32_t(h.size()), 0x8000, 0x8010, 0xA005), STATUS_OK);
        EXPECT_EQ(h, ihex_record(0x00, uint16_t(row.address - 0x8000), row.after)) << row.address;
    }
    Bytes t = t_record('3', 0x8010, 4, "abcd");
    EXPECT_EQ(patch_crc_at(RecordFormat::S_RECORDS, reinterpret_cast<uint8_t *>(t.data()),
                           int32_t(t.size()), 0, 0x8010, 0xA005), REC_T_RECORD);
}
