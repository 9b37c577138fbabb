// Record hex text to bytes with SSSE3 (32 characters a step) and AVX2 (64).
//
// Per character c: the digits "0"-"9" give c - '0', the letters "A"-"F"
// give c - 'A' + 10, everything else 0, exactly as the table does. Pairs of
// values then become bytes by one multiply-add (high nibble times 16 plus
// low nibble) and a pack. Each step loads all of its characters before it
// stores its bytes, and its bytes end before the next step's characters
// begin, so an in-place conversion with the bytes in front of the text is
// safe.
#include "records/hex_kernels.h"

#if HEX_SIMD_KERNELS

#include <immintrin.h>

#define TARGET_SSSE3 __attribute__((target("ssse3")))
#define TARGET_AVX2 __attribute__((target("avx2")))

namespace {

// The value of each of 16 characters, 0 for a character that is no digit.
TARGET_SSSE3 inline __m128i digit_values_128(__m128i c)
{
    // c - '0' below 10, and c - 'A' below 6, as unsigned bytes: a byte v is
    // below limit where min(v, limit - 1) == v.
    __m128i d = _mm_sub_epi8(c, _mm_set1_epi8('0'));
    __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
    __m128i u = _mm_sub_epi8(c, _mm_set1_epi8('A'));
    __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(u, _mm_set1_epi8(5)), u);
    __m128i letter = _mm_add_epi8(u, _mm_set1_epi8(10));
    return _mm_or_si128(_mm_and_si128(is_digit, d), _mm_and_si128(is_letter, letter));
}

// 32 characters to 16 bytes.
TARGET_SSSE3 inline __m128i decode_32(const uint8_t *source)
{
    __m128i lo = digit_values_128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(source)));
    __m128i hi = digit_values_128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(source + 16)));
    // Even characters are high nibbles: weight 16, odd ones weight 1.
    const __m128i weights = _mm_set1_epi16(0x0110);
    return _mm_packus_epi16(_mm_maddubs_epi16(lo, weights), _mm_maddubs_epi16(hi, weights));
}

TARGET_AVX2 inline __m256i digit_values_256(__m256i c)
{
    __m256i d = _mm256_sub_epi8(c, _mm256_set1_epi8('0'));
    __m256i is_digit = _mm256_cmpeq_epi8(_mm256_min_epu8(d, _mm256_set1_epi8(9)), d);
    __m256i u = _mm256_sub_epi8(c, _mm256_set1_epi8('A'));
    __m256i is_letter = _mm256_cmpeq_epi8(_mm256_min_epu8(u, _mm256_set1_epi8(5)), u);
    __m256i letter = _mm256_add_epi8(u, _mm256_set1_epi8(10));
    return _mm256_or_si256(_mm256_and_si256(is_digit, d), _mm256_and_si256(is_letter, letter));
}

}  // namespace

TARGET_SSSE3 void hex_decode_ssse3(const uint8_t *source, uint8_t *destination, size_t bytes)
{
    for (; bytes >= 16; bytes -= 16, source += 32, destination += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(destination), decode_32(source));
    hex_decode_table(source, destination, bytes);
}

TARGET_AVX2 void hex_decode_avx2(const uint8_t *source, uint8_t *destination, size_t bytes)
{
    const __m256i weights = _mm256_set1_epi16(0x0110);
    for (; bytes >= 32; bytes -= 32, source += 64, destination += 32) {
        __m256i lo = digit_values_256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(source)));
        __m256i hi =
            digit_values_256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(source + 32)));
        // The pack works within each 128-bit lane; the permute puts the
        // four 64-bit quarters back in order.
        __m256i packed = _mm256_packus_epi16(_mm256_maddubs_epi16(lo, weights),
                                             _mm256_maddubs_epi16(hi, weights));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(destination),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    hex_decode_ssse3(source, destination, bytes);
}

#endif
