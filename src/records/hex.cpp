// Hexadecimal characters and numbers for records and the -l option.
#include "records/hex.h"

#include <cstddef>

#include "records/hex_kernels.h"

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

void hex_decode_table(const uint8_t *source, uint8_t *destination, size_t bytes)
{
    // Byte k is written after characters 2k and 2k+1 are read, so an
    // in-place conversion never overwrites a character still to come.
    for (size_t k = 0; k < bytes; k++)
        destination[k] = uint8_t((hex_value(source[2 * k]) << 4) | hex_value(source[2 * k + 1]));
}

namespace {

constexpr HexKernel kernels[] = {
    {"table", hex_decode_table, 0},
#if HEX_SIMD_KERNELS
    {"ssse3", hex_decode_ssse3, CPU_SSSE3},
    {"avx2", hex_decode_avx2, CPU_AVX2},
#endif
};

// Records carry at most 255 bytes; below this many the table is as quick
// as a kernel.
constexpr size_t KERNEL_THRESHOLD = 16;

// The first bytes of a run always take the table: asking the processor
// which kernels it has costs about what the table takes for this many bytes
// (bench/README.md), so a small file is done before it would pay off.
constexpr size_t TABLE_FIRST = 32 * 1024;
size_t decoded_by_table = 0;

// Chosen on the first record long enough.
const HexKernel *chosen = nullptr;

}  // namespace

std::span<const HexKernel> hex_kernels() { return kernels; }

void reset_hex_decoder() { decoded_by_table = 0; }

int hex_to_bytes(int n, const uint8_t *source, uint8_t *destination)
{
    size_t bytes = n > 0 ? size_t(n / 2) : 0;
    if (bytes < KERNEL_THRESHOLD || decoded_by_table < TABLE_FIRST) {
        hex_decode_table(source, destination, bytes);
        decoded_by_table += bytes;
    } else {
        choose_kernel(hex_kernels(), &chosen).run(source, destination, bytes);
    }
    return int(bytes);
}

namespace {

// The leading hex digits of text, at most limit of them; the value keeps
// the last sixteen taken.
uint64_t hex_digits_value(const char *text, int limit)
{
    uint64_t value = 0;
    for (int taken = 0; taken < limit; taken++) {
        int digit = hex_digit_value(static_cast<uint8_t>(text[taken]));
        if (digit < 0)
            break;
        value = (value << 4) | uint64_t(digit);
    }
    return value;
}

const char *skip_blanks(const char *text)
{
    while (*text == ' ' || *text == '\t')
        text++;
    return text;
}

}  // namespace

uint32_t parse_hex_digits(const char *text, int limit) { return uint32_t(hex_digits_value(text, limit)); }

uint32_t parse_hex(const char *text) { return parse_hex_digits(skip_blanks(text), 512); }

uint64_t parse_hex_wide(const char *text) { return hex_digits_value(skip_blanks(text), 512); }
