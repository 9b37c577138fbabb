// The ways of turning record hex text into bytes: the table path every build
// has, and SSSE3 and AVX2 kernels for x86-64. hex.cpp chooses one for the
// whole run; tests check each of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/cpu_features.h"

// TARVEL_PORTABLE builds the portable code alone: here the table path.
#if CPU_X86_DISPATCH && !defined(TARVEL_PORTABLE)
#define HEX_SIMD_KERNELS 1
#else
#define HEX_SIMD_KERNELS 0
#endif

// Writes `bytes` bytes to destination from the 2 x bytes characters at
// source ("0"-"9" and "A"-"F" give their value, every other character 0).
// Byte k is stored only after characters 2k and 2k+1 are read, and no
// earlier: the destination may lie in front of the source in the same
// buffer, as the decoder's in-place conversion has it.
using hex_kernel = void (*)(const uint8_t *source, uint8_t *destination, size_t bytes);

using HexKernel = Kernel<hex_kernel>;

void hex_decode_table(const uint8_t *source, uint8_t *destination, size_t bytes);

#if HEX_SIMD_KERNELS
void hex_decode_ssse3(const uint8_t *source, uint8_t *destination, size_t bytes);  // 16 bytes a step
void hex_decode_avx2(const uint8_t *source, uint8_t *destination, size_t bytes);   // 32 bytes a step
#endif

// Every kernel built in, slowest first.
std::span<const HexKernel> hex_kernels();
