// Multipliers for the CRC-16/ARC by carry-less multiplication, computed at
// compile time from the polynomial.
//
// A message of N bits m0 .. m(N-1), bit 0 of the first byte first, is read
// as the polynomial M = m0 x^(N-1) + ... + m(N-1) over GF(2). The register
// after it (started at 0) is M x^16 mod P, P = x^16 + x^15 + x^2 + 1, kept
// reflected: register bit j is the coefficient of x^(15-j).
//
// Sixteen message bytes loaded little-endian into a 128-bit register keep
// that order: bit k is the coefficient of x^(127-k). The low 64-bit half
// (the first 8 bytes) holds the high powers H, the high half the low powers
// L; the block is H x^64 + L.
//
// Folding. Only the remainder mod P counts, so an accumulator X = H x^64 + L
// standing d bits before the next block is replaced by a 128-bit value
// congruent to X x^d, and the next block is XOR-ed in:
//
//     X x^d = H x^(d+64) + L x^d  =  H (x^(d+63) mod P) x + L (x^(d-1) mod P) x
//
// PCLMULQDQ of two reflected 64-bit operands puts their product, reflected,
// into bits 0..126; read the 128-bit way that is the product times x, hence
// the exponents d+63 and d-1. A multiplier of 16 bits sits in the top 16
// bits of its 64 (x^i at bit 63-i).
//
// Reduction. The register for an accumulator X is X x^16 mod P. Two folds
// give a V of degree below 64 congruent to X x^16, in the high half:
//
//     X x^16 = H x^80 + L x^16  =  H (x^79 mod P) x + L x^16    degree < 80
//     its part Y x^64 from x^64 up  =  Y (x^63 mod P) x          degree < 64
//
// Barrett reduction with mu = floor(x^64 / P), of degree 48, then finds the
// quotient q = floor(floor(V / x^16) mu / x^48), and V mod P is the low 16
// powers of V + q P. Reflected, floor(V / x^16) is the low 48 bits of V; its
// product with mu reflected to 49 bits has q in its low 48 bits; q times P
// reflected to 17 bits lines up with V, and the register is bits 48..63 of
// V XOR that product.
#pragma once

#include <cstdint>

constexpr uint32_t CRC16_POLY = 0x18005;  // P, bit i = coefficient of x^i

// x^k mod P, bit i = coefficient of x^i.
constexpr uint32_t x_pow_mod(unsigned k)
{
    uint32_t r = 1;
    while (k--) {
        r <<= 1;
        if (r & 0x10000)
            r ^= CRC16_POLY;
    }
    return r;
}

// The low `bits` bits of v in reverse order.
constexpr uint64_t reflect_bits(uint64_t v, unsigned bits)
{
    uint64_t r = 0;
    for (unsigned i = 0; i < bits; i++)
        if ((v >> i) & 1)
            r |= uint64_t(1) << (bits - 1 - i);
    return r;
}

// x^k mod P as a reflected 64-bit multiplier.
constexpr uint64_t fold_multiplier(unsigned k) { return reflect_bits(x_pow_mod(k), 64); }

// The multipliers that move a 128-bit accumulator forward by `bits` bits:
// `first` for its first 8 bytes (low half), `second` for its last 8.
struct FoldConstants {
    uint64_t first;
    uint64_t second;
};

constexpr FoldConstants fold_by(unsigned bits)
{
    return {fold_multiplier(bits + 63), fold_multiplier(bits - 1)};
}

// floor(x^64 / P) by long division, bit i = coefficient of x^i.
constexpr uint64_t barrett_quotient()
{
    // The first step takes x^64 (beyond 64 bits) away: quotient x^48,
    // remainder x^64 + P x^48, which is (P - x^16) x^48.
    uint64_t q = uint64_t(1) << 48;
    uint64_t rem = uint64_t(CRC16_POLY & 0xFFFF) << 48;
    for (int i = 63; i >= 16; i--) {
        if ((rem >> i) & 1) {
            q |= uint64_t(1) << (i - 16);
            rem ^= uint64_t(CRC16_POLY) << (i - 16);
        }
    }
    return q;
}

constexpr uint64_t BARRETT_MU = reflect_bits(barrett_quotient(), 49);
constexpr uint64_t BARRETT_POLY = reflect_bits(CRC16_POLY, 17);
constexpr uint64_t BARRETT_LOW_48 = (uint64_t(1) << 48) - 1;

// Carry-less product, low 64 bits, for the checks below.
constexpr uint64_t clmul_low(uint64_t a, uint64_t b)
{
    uint64_t r = 0;
    for (int i = 0; i < 64; i++)
        if ((b >> i) & 1)
            r ^= a << i;
    return r;
}

// mu P = x^64 + (x^64 mod P): the low 64 bits of mu P are the remainder.
// P = x^16 + (P - x^16), and mu x^16 loses only its x^64 beyond 64 bits.
static_assert(barrett_quotient() >> 48 == 1);
static_assert((clmul_low(barrett_quotient(), CRC16_POLY & 0xFFFF) ^ (barrett_quotient() << 16)) ==
              x_pow_mod(64));
static_assert(BARRETT_POLY == ((0xA001 << 1) | 1));

// Ties the multipliers to the register's definition: the message of one
// byte 01 and then n-1 zero bytes is x^(8n-1), so the register after it is
// x^(8n+15) mod P, reflected to 16 bits. Run bit by bit, shifting right and
// XOR-ing 0xA001, that is the table's own rule.
constexpr bool multiplier_matches_register(unsigned k)
{
    if ((k + 1) % 8 != 0 || k < 15)
        return false;
    unsigned reg = 0;
    for (unsigned byte = 0; byte < (k - 15) / 8; byte++) {
        reg ^= byte == 0 ? 1 : 0;
        for (int bit = 0; bit < 8; bit++)
            reg = (reg & 1) ? (reg >> 1) ^ 0xA001 : reg >> 1;
    }
    return fold_multiplier(k) == uint64_t(reg) << 48;
}

constexpr bool fold_matches_register(unsigned bits)
{
    return multiplier_matches_register(bits + 63) && multiplier_matches_register(bits - 1);
}

static_assert(multiplier_matches_register(63) && multiplier_matches_register(79));
static_assert(fold_matches_register(128) && fold_matches_register(256) && fold_matches_register(384));
static_assert(fold_matches_register(512) && fold_matches_register(1024) && fold_matches_register(2048));
