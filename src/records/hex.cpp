// Hexadecimal characters and numbers for records and the -l option.
#include "records/hex.h"

#include <array>
#include <cstddef>

char hex_digit(int value)
{
    static const char digits[] = "0123456789ABCDEF";
    return digits[value & 0xF];
}

void byte_to_hex(uint8_t byte, char *out)
{
    out[0] = hex_digit(byte >> 4);
    out[1] = hex_digit(byte);
}

void word_to_hex(uint32_t value, char *out)
{
    byte_to_hex(uint8_t(value >> 8), out);
    byte_to_hex(uint8_t(value), out + 2);
}

namespace {

// Value of every byte as a record hex digit: "0"-"9" and "A"-"F" give 0-15,
// all other bytes 0. Record files are tens of megabytes of hex text; a look-up
// per character replaces two range tests.
constexpr std::array<uint8_t, 256> make_digit_values()
{
    std::array<uint8_t, 256> v{};
    for (int c = '0'; c <= '9'; c++)
        v[std::size_t(c)] = uint8_t(c - '0');
    for (int c = 'A'; c <= 'F'; c++)
        v[std::size_t(c)] = uint8_t(c - 'A' + 10);
    return v;
}

constexpr std::array<uint8_t, 256> digit_values = make_digit_values();

}  // namespace

int hex_value(uint8_t c) { return digit_values[c]; }

int hex_to_bytes(int n, const uint8_t *source, uint8_t *destination)
{
    int bytes = n > 0 ? n / 2 : 0;
    // Byte k is written after characters 2k and 2k+1 are read, so an
    // in-place conversion never overwrites a character still to come.
    for (int k = 0; k < bytes; k++)
        destination[k] = uint8_t((digit_values[source[2 * k]] << 4) | digit_values[source[2 * k + 1]]);
    return bytes;
}

// isxdigit of the "C" locale; bytes above 0x7F are never digits.
static bool is_hex_digit(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

uint32_t parse_hex_digits(const char *text, int limit)
{
    uint32_t value = 0;
    for (int taken = 0; is_hex_digit(static_cast<unsigned char>(text[taken])) && taken < limit;
         taken++) {
        unsigned c = static_cast<unsigned char>(text[taken]);
        unsigned digit = (c > '9' ? c - 7 : c) & 0xF;
        value = (value << 4) | digit;
    }
    return value;
}

uint32_t parse_hex(const char *text)
{
    while (*text == ' ' || *text == '\t')
        text++;
    return parse_hex_digits(text, 512);
}
