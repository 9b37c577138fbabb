// CRC-16/ARC by carry-less multiplication on x86-64: PCLMULQDQ folds 16
// bytes at a time, VPCLMULQDQ 32 or 64. The math is in crc16_fold_constants.h.
//
// Each function carries its own target attribute, so the rest of the build
// keeps the baseline instruction set; crc16.cpp calls a kernel only when
// cpu_features() reports what it needs. Inputs too short for a kernel's
// main loop go to a narrower kernel, and the last bytes that do not fill a
// 16-byte block to the table path.
#include "module/crc16_kernels.h"

#if CRC_CLMUL_KERNELS

#include <immintrin.h>

#include "module/crc16_fold_constants.h"

#define TARGET_PCLMUL __attribute__((target("pclmul,sse4.1")))
#define TARGET_VPCLMUL_256 __attribute__((target("pclmul,sse4.1,avx2,vpclmulqdq")))
#define TARGET_VPCLMUL_512 __attribute__((target("pclmul,sse4.1,avx512f,vpclmulqdq")))

namespace {

// Named constants, so that every build has the compiler compute them.
constexpr FoldConstants FOLD_128 = fold_by(128);
constexpr FoldConstants FOLD_256 = fold_by(256);
constexpr FoldConstants FOLD_384 = fold_by(384);
constexpr FoldConstants FOLD_512 = fold_by(512);
constexpr FoldConstants FOLD_1024 = fold_by(1024);
constexpr FoldConstants FOLD_2048 = fold_by(2048);
constexpr uint64_t REDUCE_79 = fold_multiplier(79);
constexpr uint64_t REDUCE_63 = fold_multiplier(63);

TARGET_PCLMUL inline __m128i load_128(const uint8_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

TARGET_PCLMUL inline __m128i multipliers_128(FoldConstants k)
{
    return _mm_set_epi64x(int64_t(k.second), int64_t(k.first));
}

// x moved forward by the distance of k, with the block `next` XOR-ed in.
TARGET_PCLMUL inline __m128i fold_128(__m128i x, __m128i k, __m128i next)
{
    __m128i first = _mm_clmulepi64_si128(x, k, 0x00);
    __m128i second = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(first, second), next);
}

// The register for the accumulator: its polynomial times x^16, mod P.
TARGET_PCLMUL uint16_t reduce_128(__m128i x)
{
    const __m128i k = _mm_set_epi64x(int64_t(REDUCE_63), int64_t(REDUCE_79));
    // H (x^79 mod P) x, plus L x^16: L, the high half, moved down two bytes.
    __m128i low_powers = _mm_blend_epi16(x, _mm_setzero_si128(), 0x0F);
    __m128i y = _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_srli_si128(low_powers, 2));
    // y's powers from x^64 up (bits 48..63) times (x^63 mod P) x, added to
    // its high half: V, moved to the low half for Barrett.
    __m128i v = _mm_srli_si128(_mm_xor_si128(_mm_clmulepi64_si128(y, k, 0x10), y), 8);

    const __m128i b = _mm_set_epi64x(int64_t(BARRETT_POLY), int64_t(BARRETT_MU));
    const __m128i low_48 = _mm_set_epi64x(0, int64_t(BARRETT_LOW_48));
    __m128i q = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(v, low_48), b, 0x00), low_48);
    __m128i r = _mm_xor_si128(v, _mm_clmulepi64_si128(q, b, 0x10));
    return uint16_t(_mm_extract_epi16(r, 3));
}

TARGET_VPCLMUL_256 inline __m256i load_256(const uint8_t *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

TARGET_VPCLMUL_256 inline __m256i multipliers_256(FoldConstants k)
{
    return _mm256_set_epi64x(int64_t(k.second), int64_t(k.first), int64_t(k.second), int64_t(k.first));
}

// Both 16-byte lanes of y moved forward by the distance of k, next XOR-ed in.
TARGET_VPCLMUL_256 inline __m256i fold_256(__m256i y, __m256i k, __m256i next)
{
    __m256i first = _mm256_clmulepi64_epi128(y, k, 0x00);
    __m256i second = _mm256_clmulepi64_epi128(y, k, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(first, second), next);
}

TARGET_VPCLMUL_512 inline __m512i load_512(const uint8_t *p) { return _mm512_loadu_si512(p); }

TARGET_VPCLMUL_512 inline __m512i multipliers_512(FoldConstants k)
{
    auto f = int64_t(k.first), s = int64_t(k.second);
    return _mm512_set_epi64(s, f, s, f, s, f, s, f);
}

// The four 16-byte lanes of z moved forward by the distance of k, next XOR-ed in.
TARGET_VPCLMUL_512 inline __m512i fold_512(__m512i z, __m512i k, __m512i next)
{
    __m512i first = _mm512_clmulepi64_epi128(z, k, 0x00);
    __m512i second = _mm512_clmulepi64_epi128(z, k, 0x11);
    return _mm512_ternarylogic_epi64(first, second, next, 0x96);  // three-way XOR
}

// Lane I of z. The masked extract, because gcc 12 warns of an uninitialised
// value inside the plain one and inside the cast to the low lane.
template <int I>
TARGET_VPCLMUL_512 inline __m128i lane_512(__m512i z)
{
    return _mm512_maskz_extracti32x4_epi32(0xF, z, I);
}

}  // namespace

// Four 16-byte accumulators, 64 bytes a round: the folds of a round do not
// wait on each other.
TARGET_PCLMUL uint16_t crc16_register_pclmul(uint16_t reg, const uint8_t *p, size_t n)
{
    if (n < 64)
        return crc16_register_table(reg, p, n);
    // A running register is the same as its two bytes XOR-ed into the
    // first two message bytes with a register of 0.
    __m128i x0 = _mm_xor_si128(load_128(p), _mm_cvtsi32_si128(reg));
    __m128i x1 = load_128(p + 16);
    __m128i x2 = load_128(p + 32);
    __m128i x3 = load_128(p + 48);
    p += 64;
    n -= 64;
    const __m128i k512 = multipliers_128(FOLD_512);
    for (; n >= 64; p += 64, n -= 64) {
        x0 = fold_128(x0, k512, load_128(p));
        x1 = fold_128(x1, k512, load_128(p + 16));
        x2 = fold_128(x2, k512, load_128(p + 32));
        x3 = fold_128(x3, k512, load_128(p + 48));
    }
    const __m128i k128 = multipliers_128(FOLD_128);
    __m128i x = fold_128(x0, k128, x1);
    x = fold_128(x, k128, x2);
    x = fold_128(x, k128, x3);
    for (; n >= 16; p += 16, n -= 16)
        x = fold_128(x, k128, load_128(p));
    return crc16_register_table(reduce_128(x), p, n);
}

// Four 32-byte accumulators, 128 bytes a round.
TARGET_VPCLMUL_256 uint16_t crc16_register_vpclmul_256(uint16_t reg, const uint8_t *p, size_t n)
{
    if (n < 128)
        return crc16_register_pclmul(reg, p, n);
    __m256i y0 = _mm256_xor_si256(load_256(p), _mm256_set_epi64x(0, 0, 0, reg));
    __m256i y1 = load_256(p + 32);
    __m256i y2 = load_256(p + 64);
    __m256i y3 = load_256(p + 96);
    p += 128;
    n -= 128;
    const __m256i k1024 = multipliers_256(FOLD_1024);
    for (; n >= 128; p += 128, n -= 128) {
        y0 = fold_256(y0, k1024, load_256(p));
        y1 = fold_256(y1, k1024, load_256(p + 32));
        y2 = fold_256(y2, k1024, load_256(p + 64));
        y3 = fold_256(y3, k1024, load_256(p + 96));
    }
    const __m256i k256 = multipliers_256(FOLD_256);
    __m256i y = fold_256(y0, k256, y1);
    y = fold_256(y, k256, y2);
    y = fold_256(y, k256, y3);
    for (; n >= 32; p += 32, n -= 32)
        y = fold_256(y, k256, load_256(p));
    const __m128i k128 = multipliers_128(FOLD_128);
    __m128i x = fold_128(_mm256_castsi256_si128(y), k128, _mm256_extracti128_si256(y, 1));
    for (; n >= 16; p += 16, n -= 16)
        x = fold_128(x, k128, load_128(p));
    return crc16_register_table(reduce_128(x), p, n);
}

// Four 64-byte accumulators, 256 bytes a round.
TARGET_VPCLMUL_512 uint16_t crc16_register_vpclmul_512(uint16_t reg, const uint8_t *p, size_t n)
{
    if (n < 256)
        return crc16_register_pclmul(reg, p, n);
    __m512i z0 = _mm512_xor_si512(load_512(p), _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, reg));
    __m512i z1 = load_512(p + 64);
    __m512i z2 = load_512(p + 128);
    __m512i z3 = load_512(p + 192);
    p += 256;
    n -= 256;
    const __m512i k2048 = multipliers_512(FOLD_2048);
    for (; n >= 256; p += 256, n -= 256) {
        z0 = fold_512(z0, k2048, load_512(p));
        z1 = fold_512(z1, k2048, load_512(p + 64));
        z2 = fold_512(z2, k2048, load_512(p + 128));
        z3 = fold_512(z3, k2048, load_512(p + 192));
    }
    const __m512i k512 = multipliers_512(FOLD_512);
    __m512i z = fold_512(z0, k512, z1);
    z = fold_512(z, k512, z2);
    z = fold_512(z, k512, z3);
    for (; n >= 64; p += 64, n -= 64)
        z = fold_512(z, k512, load_512(p));
    // Each lane straight to the last one: the multiplications are
    // independent, only the XORs chain.
    const __m128i k128 = multipliers_128(FOLD_128);
    __m128i x = fold_128(lane_512<2>(z), k128, lane_512<3>(z));
    x = fold_128(lane_512<1>(z), multipliers_128(FOLD_256), x);
    x = fold_128(lane_512<0>(z), multipliers_128(FOLD_384), x);
    for (; n >= 16; p += 16, n -= 16)
        x = fold_128(x, k128, load_128(p));
    return crc16_register_table(reduce_128(x), p, n);
}

#endif  // CRC_CLMUL_KERNELS
