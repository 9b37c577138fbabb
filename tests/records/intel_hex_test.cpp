// Decoding Intel HEX lines.
#include "records/intel_hex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "builders.h"
#include "status.h"
#include "test_support.h"

namespace {

// Decodes a copy of line in a heap block of exactly its size, so that the
// sanitizer catches any read beyond the bytes given. The block lives until
// the next call: state.data points into it.
int32_t decode(DecodeState *state, const std::string &line)
{
    static std::unique_ptr<uint8_t[]> exact;
    exact.reset(new uint8_t[line.size() + (line.empty() ? 1 : 0)]);
    std::memcpy(exact.get(), line.data(), line.size());
    return decode_hex_record(state, exact.get(), int32_t(line.size()));
}

}  // namespace

TEST(IntelHexRecord, DataRecordsGoToBasePlusAddress)
{
    DecodeState state = {};
    ASSERT_EQ(decode(&state, ihex_record(0x00, 0x8000, "abc")), STATUS_OK);
    EXPECT_TRUE(state.data_record);
    EXPECT_EQ(state.address, 0x8000u);
    EXPECT_EQ(state.length, 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(state.data), 3), "abc");
    EXPECT_EQ(state.count, 1);

    // 04 sets the upper 16 bits, 02 a segment base of value x 16; both stay
    // for the records that follow.
    ASSERT_EQ(decode(&state, ihex_linear_base(0x12340000)), STATUS_OK);
    EXPECT_FALSE(state.data_record);
    ASSERT_EQ(decode(&state, ihex_record(0x00, 0x0010, "x")), STATUS_OK);
    EXPECT_EQ(state.address, 0x12340010u);
    ASSERT_EQ(decode(&state, ihex_record(0x02, 0, hex_bytes("10 00"))), STATUS_OK);
    ASSERT_EQ(decode(&state, ihex_record(0x00, 0xFFF0, "y")), STATUS_OK);
    EXPECT_EQ(state.address, 0x1FFF0u);
    EXPECT_EQ(state.count, 3);

    // Start addresses are accepted and load nothing; end of file ends.
    EXPECT_EQ(decode(&state, ihex_record(0x03, 0, hex_bytes("10 00 FF F0"))), STATUS_OK);
    EXPECT_EQ(decode(&state, ihex_record(0x05, 0, hex_bytes("00 00 80 00"))), STATUS_OK);
    EXPECT_FALSE(state.data_record);
    EXPECT_EQ(decode(&state, IHEX_END), REC_END);
    EXPECT_EQ(state.count, 3);
}

TEST(IntelHexRecord, LineEndsAndCase)
{
    DecodeState state = {};
    std::string line = ihex_record(0x00, 0x0100, hex_bytes("AB CD EF"));
    EXPECT_EQ(decode(&state, line + "\r"), STATUS_OK);  // a CR LF line
    std::string lower = line;
    for (char &c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(decode(&state, lower), STATUS_OK);
    EXPECT_EQ(state.address, 0x100u);
    EXPECT_EQ(state.data[2], 0xEF);
}

TEST(IntelHexRecord, BadRecordsAreRejectedAndTakeNoNumber)
{
    std::string good = ihex_record(0x00, 0x8000, "abcd");
    std::string wrong_sum = good;
    wrong_sum.back() = wrong_sum.back() == '0' ? '1' : '0';
    std::string not_hex = good;
    not_hex[12] = 'G';
    std::string count_says_more = ihex_record(0x00, 0x8000, "abcd");
    count_says_more[2] = '5';  // count 05 with four data bytes (and its checksum no longer fits either)
    struct Row {
        std::string line;
        int32_t rc;
    } rows[] = {
        {wrong_sum, REC_BAD_SUM},
        {not_hex, REC_BAD_HEX},
        {good + " ", REC_CUT_SHORT},             // one character too many: half a byte
        {good + "00", REC_BAD_LENGTH},           // a byte more than the count says
        {good.substr(0, good.size() - 1), REC_CUT_SHORT},
        {good.substr(0, good.size() - 2), REC_CUT_SHORT},
        {":00000001", REC_CUT_SHORT},            // cut before its checksum
        {":0000G001FF", REC_BAD_HEX},
        {":000000GG", REC_BAD_HEX},              // a type that cannot be read
        {count_says_more, REC_CUT_SHORT},
        {":", REC_CUT_SHORT},
        {good + "\r" + good, REC_LINE_END},      // two records glued by a lone CR
        {"", rec_bad_lead(0)},
        {ihex_record(0x06, 0, "z"), rec_bad_type(0x06)},
        {ihex_record(0x06, 0, "z") + "G", rec_bad_type(0x06)},  // no record of ours at all
        {ihex_record(0x04, 0, "z"), REC_BAD_LENGTH},     // a base of one byte
        {ihex_record(0x05, 0, "zz"), REC_BAD_LENGTH},
    };
    for (const Row &row : rows) {
        DecodeState state = {};
        EXPECT_EQ(decode(&state, row.line), row.rc) << row.line;
        EXPECT_EQ(state.count, 0) << row.line;
        EXPECT_EQ(state.base, 0u) << row.line;
    }
}

TEST(IntelHexRecord, EveryPrefixOfARecordIsSafe)
{
    std::string line = ihex_record(0x00, 0x1234, Bytes(200, '\x5A'));
    for (size_t n = 0; n <= line.size(); n++) {
        DecodeState state = {};
        int32_t rc = decode(&state, line.substr(0, n));
        EXPECT_EQ(rc == STATUS_OK, n == line.size()) << n;
    }
}
