// CRC-16 over memory and files.
#include "module/crc16.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fixtures.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

const uint8_t *bytes_of(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

// The bit-by-bit definition the table must reproduce.
uint16_t bitwise_register(const std::string &data)
{
    unsigned reg = 0;
    for (unsigned char c : data) {
        reg ^= c;
        for (int i = 0; i < 8; i++)
            reg = (reg & 1) ? (reg >> 1) ^ 0xA001 : reg >> 1;
    }
    return uint16_t(reg);
}

uint16_t swapped(uint16_t v) { return uint16_t((v << 8) | (v >> 8)); }

}  // namespace

TEST(Crc16, CheckValueAndTableEntries)
{
    std::string digits = "123456789";
    EXPECT_EQ(crc16_range(bytes_of(digits), bytes_of(digits) + 8), 0x3DBB);
    EXPECT_EQ(crc16_update(bytes_of(digits), 9, 0), 0x3DBB);
    // Single bytes give the table entries, exchanged.
    for (int i : {1, 2, 128, 255}) {
        uint8_t b = uint8_t(i);
        uint16_t expected = i == 1 ? 0xC0C1 : i == 2 ? 0xC181 : i == 128 ? 0xA001 : 0x4040;
        EXPECT_EQ(swapped(crc16_range(&b, &b)), expected) << i;
    }
    for (int i = 0; i < 256; i++) {
        std::string one(1, char(i));
        EXPECT_EQ(crc16_update(bytes_of(one), 1, 0), swapped(bitwise_register(one))) << i;
    }
}

TEST(Crc16, EmptyRangesAndChaining)
{
    uint8_t b[2] = {1, 2};
    EXPECT_EQ(crc16_range(b + 1, b), 0);
    EXPECT_EQ(crc16_update(b, 0, 0x1234), 0x1234);
    std::string data(40000, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = char(i * 7 + (i >> 5));
    uint16_t whole = crc16_range(bytes_of(data), bytes_of(data) + data.size() - 1);
    for (size_t split : {size_t(0), size_t(1), size_t(16384), size_t(16385), data.size()}) {
        uint16_t run = crc16_update(bytes_of(data), split, 0);
        run = crc16_update(bytes_of(data) + split, data.size() - split, run);
        EXPECT_EQ(run, whole) << split;
    }
    EXPECT_EQ(whole, swapped(bitwise_register(data)));
}

class FileCrc : public StateTest {};

TEST_F(FileCrc, FilesAcrossPieceBoundaries)
{
    // The last four lie around the 1 MiB read piece.
    for (size_t size : {size_t(0), size_t(9), size_t(16384), size_t(16385), size_t(50000), size_t(0xFFFFF),
                        size_t(0x100000), size_t(0x100001), size_t(0x200011)}) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; i++)
            data[i] = char(i * 13 + 5);
        if (size == 9)
            data = "123456789";
        write_file(dir.file("f"), data);
        uint16_t crc = 1;
        ASSERT_EQ(file_crc(dir.file("f").c_str(), &crc), STATUS_OK);
        uint16_t expected = size ? crc16_range(bytes_of(data), bytes_of(data) + size - 1) : 0;
        EXPECT_EQ(crc, expected) << size;
    }
}

TEST_F(FileCrc, PrintedLineAndFailures)
{
    int64_t size = 0;
    uint16_t printed = 0;
    auto print_file_crc = [&](const char *file) { return ::print_file_crc(file, &size, &printed); };
    write_file(dir.file("digits"), "123456789");
    std::string path = dir.file("digits");
    StdoutCapture out;
    EXPECT_EQ(print_file_crc(path.c_str()), STATUS_OK);
    EXPECT_EQ(out.stop(), path + " Size 9 Crc 3dbb\n");

    write_file(dir.file("empty"), "");
    std::string empty = dir.file("empty");
    StdoutCapture out2;
    EXPECT_EQ(print_file_crc(empty.c_str()), STATUS_OK);
    EXPECT_EQ(out2.stop(), empty + " Size 0 Crc 0000\n");

    std::string missing = dir.file("missing");
    StdoutCapture out3;
    EXPECT_EQ(print_file_crc(missing.c_str()), ENOENT);
    EXPECT_EQ(out3.stop(), "Unable to open input file " + missing + "\n");

    uint16_t crc = 7;
    EXPECT_EQ(file_crc(missing.c_str(), &crc), ENOENT);
    EXPECT_EQ(crc, 0);

    StdoutCapture out4;
    EXPECT_EQ(print_file_crc(nullptr), ENOENT);
    EXPECT_EQ(out4.stop(), "Unable to open input file \n");
}

// The grouped loop must give exactly what the plain one-byte-at-a-time
// definition gives, for every length and every start alignment.
TEST(Crc16, GroupedLoopMatchesTheDefinition)
{
    std::string data(1024 + 16, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = char((i * 131) ^ (i >> 3) ^ 0x5A);
    for (size_t align = 0; align < 16; align++) {
        for (size_t len = 0; len <= 1024; len++) {
            std::string piece = data.substr(align, len);
            uint16_t expected = swapped(bitwise_register(piece));
            ASSERT_EQ(crc16_update(bytes_of(data) + align, len, 0), expected)
                << "align " << align << " length " << len;
        }
    }
}
