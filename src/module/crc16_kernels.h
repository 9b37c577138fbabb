// The ways of running the CRC-16/ARC register over memory: the table path
// that every build has, and carry-less-multiplication kernels for x86-64.
// crc16.cpp chooses one for the whole run; tests check each of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/cpu_features.h"

// TARVEL_PORTABLE builds the portable code alone: here the table path.
#if CPU_X86_DISPATCH && !defined(TARVEL_PORTABLE)
#define CRC_CLMUL_KERNELS 1
#else
#define CRC_CLMUL_KERNELS 0
#endif

// A kernel continues the register itself (not the exchanged module CRC)
// over n bytes at p and returns it.
using crc_kernel = uint16_t (*)(uint16_t reg, const uint8_t *p, size_t n);

using CrcKernel = Kernel<crc_kernel>;

// Slice-by-16 tables; the other kernels finish their last bytes with it.
uint16_t crc16_register_table(uint16_t reg, const uint8_t *p, size_t n);

#if CRC_CLMUL_KERNELS
uint16_t crc16_register_pclmul(uint16_t reg, const uint8_t *p, size_t n);       // 16-byte folds
uint16_t crc16_register_vpclmul_256(uint16_t reg, const uint8_t *p, size_t n);  // 32-byte folds
uint16_t crc16_register_vpclmul_512(uint16_t reg, const uint8_t *p, size_t n);  // 64-byte folds
#endif

// Every kernel built in, slowest first.
std::span<const CrcKernel> crc16_kernels();

// The kernel crc16_range and crc16_update use: the last one available,
// chosen on the first call.
const CrcKernel &crc16_chosen_kernel();
