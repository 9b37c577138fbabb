// Hex characters and numbers.
#include "records/hex.h"

#include <gtest/gtest.h>

#include <string>

TEST(Hex, Writing)
{
    EXPECT_EQ(hex_digit(10), 'A');
    EXPECT_EQ(hex_digit(0x1F), 'F');
    char out[4];
    byte_to_hex(0xA5, out);
    EXPECT_EQ(std::string(out, 2), "A5");
    byte_to_hex(7, out);
    EXPECT_EQ(std::string(out, 2), "07");
    word_to_hex(0x3DBB, out);
    EXPECT_EQ(std::string(out, 4), "3DBB");
    word_to_hex(0x12345, out);
    EXPECT_EQ(std::string(out, 4), "2345");
}

TEST(Hex, RecordDigitsAreUpperCaseOnly)
{
    EXPECT_EQ(hex_value('F'), 15);
    EXPECT_EQ(hex_value('9'), 9);
    for (uint8_t c : {uint8_t('a'), uint8_t('G'), uint8_t(' '), uint8_t('\n'), uint8_t(0xC1)})
        EXPECT_EQ(hex_value(c), 0) << int(c);

    uint8_t out[4] = {9, 9, 9, 9};
    EXPECT_EQ(hex_to_bytes(4, reinterpret_cast<const uint8_t *>("1A2B"), out), 2);
    EXPECT_EQ(out[0], 0x1A);
    EXPECT_EQ(out[1], 0x2B);
    EXPECT_EQ(hex_to_bytes(4, reinterpret_cast<const uint8_t *>("1a2b"), out), 2);
    EXPECT_EQ(out[0], 0x10);
    EXPECT_EQ(out[1], 0x20);
    EXPECT_EQ(hex_to_bytes(0, reinterpret_cast<const uint8_t *>(""), out), 0);
    EXPECT_EQ(hex_to_bytes(3, reinterpret_cast<const uint8_t *>("FFE"), out), 1);
    EXPECT_EQ(out[1], 0x20);  // an odd count writes no more than n/2 bytes

    // In place, as the decoder does: byte k lands at 3 + k, read from 4 + 2k.
    uint8_t line[] = "S1XX0102";
    EXPECT_EQ(hex_to_bytes(4, line + 4, line + 3), 2);
    EXPECT_EQ(line[3], 0x01);
    EXPECT_EQ(line[4], 0x02);
}

TEST(Hex, NumberParser)
{
    EXPECT_EQ(parse_hex("  1a2B"), 0x1A2Bu);
    EXPECT_EQ(parse_hex("\t8000 and more"), 0x8000u);
    EXPECT_EQ(parse_hex("0x10"), 0u);
    EXPECT_EQ(parse_hex("123456789"), 0x23456789u);
    EXPECT_EQ(parse_hex(""), 0u);
    EXPECT_EQ(parse_hex("-5"), 0u);
    EXPECT_EQ(parse_hex("\xC1\xC2"), 0u);
    EXPECT_EQ(parse_hex_digits("FFFF", 2), 0xFFu);
}
