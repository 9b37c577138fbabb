// Hexadecimal characters and numbers for records and the -l option.
#include "records/hex.h"

#include <array>
#include <atomic>
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

void hex_decode_table(const uint8_t *source, uint8_t *destination, size_t bytes)
{
    // Byte k is written after characters 2k and 2k+1 are read, so an
    // in-place conversion never overwrites a character still to come.
    for (size_t k = 0; k < bytes; k++)
        destination[k] = uint8_t((digit_values[source[2 * k]] << 4) | digit_values[source[2 * k + 1]]);
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
// which kernels it has costs some 30 microseconds in a virtual machine,
// about what the table takes for this many bytes, so a small file is done
// before it would pay off.
constexpr size_t TABLE_FIRST = 32 * 1024;
std::atomic<size_t> decoded_by_table{0};

// Chosen on the first record long enough; an atomic store without a lock,
// as for the CRC kernels (every thread would choose the same).
std::atomic<hex_kernel> chosen{nullptr};

hex_kernel chosen_kernel()
{
    hex_kernel k = chosen.load(std::memory_order_relaxed);
    if (!k) {
        for (const HexKernel &candidate : kernels)
            if (hex_kernel_available(candidate))
                k = candidate.run;
        chosen.store(k, std::memory_order_relaxed);
    }
    return k;
}

}  // namespace

std::span<const HexKernel> hex_kernels() { return kernels; }

bool hex_kernel_available(const HexKernel &kernel)
{
    return (cpu_features() & kernel.needs) == kernel.needs;
}

int hex_to_bytes(int n, const uint8_t *source, uint8_t *destination)
{
    size_t bytes = n > 0 ? size_t(n / 2) : 0;
    if (bytes < KERNEL_THRESHOLD ||
        decoded_by_table.load(std::memory_order_relaxed) < TABLE_FIRST) {
        hex_decode_table(source, destination, bytes);
        decoded_by_table.fetch_add(bytes, std::memory_order_relaxed);
    } else {
        chosen_kernel()(source, destination, bytes);
    }
    return int(bytes);
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
