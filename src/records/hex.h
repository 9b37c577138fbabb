// Hexadecimal characters and numbers.
//
// One table says what a hex digit is: "0"-"9", "A"-"F" and "a"-"f". Two
// readings of it are part of the behaviour. The record routines (hex_value,
// hex_pair, hex_to_bytes) know "0"-"9" and "A"-"F" only; every other
// character, lower case included, reads as 0 without error. The number
// parser and Intel HEX (hex_digit_value, parse_hex) take either case and
// tell a character that is no digit apart. All text written here is upper
// case.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace hex_detail {

constexpr uint8_t NOT_HEX = 0xFF;
constexpr uint8_t LOWER_CASE = 0x10;  // flag beside the value of "a"-"f"

// Per byte: the digit's value, with LOWER_CASE for "a"-"f"; NOT_HEX for
// everything else.
constexpr std::array<uint8_t, 256> make_digits()
{
    std::array<uint8_t, 256> t{};
    for (auto &d : t)
        d = NOT_HEX;
    for (int c = '0'; c <= '9'; c++)
        t[std::size_t(c)] = uint8_t(c - '0');
    for (int c = 'A'; c <= 'F'; c++)
        t[std::size_t(c)] = uint8_t(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; c++)
        t[std::size_t(c)] = uint8_t(LOWER_CASE | (c - 'a' + 10));
    return t;
}
inline constexpr std::array<uint8_t, 256> digits = make_digits();

// The record reading of the same table: upper-case digits, else 0.
constexpr std::array<uint8_t, 256> make_record_values()
{
    std::array<uint8_t, 256> t{};
    for (std::size_t c = 0; c < 256; c++)
        t[c] = digits[c] < LOWER_CASE ? digits[c] : 0;
    return t;
}
inline constexpr std::array<uint8_t, 256> record_values = make_record_values();

}  // namespace hex_detail

// Character for the low 4 bits of value.
char hex_digit(int value);

// Two characters, high nibble first; no terminator.
void byte_to_hex(uint8_t byte, char *out);

// Four characters for the low 16 bits, most significant first; no terminator.
void word_to_hex(uint32_t value, char *out);

// 0-15 for "0"-"9" and "A"-"F", 0 for anything else.
inline int hex_value(uint8_t c) { return hex_detail::record_values[c]; }

// The byte of the two record hex characters at text.
inline int hex_pair(const uint8_t *text) { return hex_value(text[0]) * 16 + hex_value(text[1]); }

// 0-15 for a hex digit of either case, -1 for anything else.
inline int hex_digit_value(uint8_t c)
{
    uint8_t d = hex_detail::digits[c];
    return d == hex_detail::NOT_HEX ? -1 : d & 0xF;
}

// Converts n characters (n even) to n/2 bytes and returns n/2. The
// destination may lie inside the source as long as it does not run ahead of
// the characters still to be read. An odd n converts its first n-1 characters.
int hex_to_bytes(int n, const uint8_t *source, uint8_t *destination);

// Starts a run's count of bytes decoded: its first bytes take the table,
// whatever an earlier run in the same process decoded.
void reset_hex_decoder();

// Value of the leading hex digits of text, at most limit of them; the value
// keeps the last eight digits taken.
uint32_t parse_hex_digits(const char *text, int limit);

// Skips blanks and tabs, then parse_hex_digits(text, 512).
uint32_t parse_hex(const char *text);

// The same, keeping the last sixteen digits: an address of 64 bits.
uint64_t parse_hex_wide(const char *text);
