// Small modules and entries built byte by byte for the tests.
#pragma once

#include <cstdint>
#include <string>

#include "test_support.h"

inline const Bytes terminator(12, '\0');
inline const Bytes trailer = hex_bytes("5A 69 0F F0");

inline Bytes be32(uint32_t v)
{
    return Bytes{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

inline Bytes snbr(uint32_t n) { return Bytes("SNBR") + Bytes(4, '\0') + be32(4) + be32(n); }

// A module with the name "A", type 0x24 and the given data region.
inline Bytes bin_module(const Bytes &data, const std::string &crc_hex = "FF FF")
{
    return hex_bytes(crc_hex + " 7F FF 87 CD F0 0F") + be32(44 + uint32_t(data.size())) +
           hex_bytes("24 00 00 00 00 00 00 00") + "DATADATA" + be32(36) + be32(40) + "A" +
           Bytes(3, '\0') + data + trailer;
}

// An old-layout module of 40 bytes and what the upgrade makes of it.
inline const Bytes old_module = hex_bytes(
    "FF FF 7F FF 87 CD F0 0F 00 00 00 28 00 07 01 02 41 42 43 44 00 00 00 1C 00 00 00 20"
    " 41 00 00 00 01 02 03 04 5A 69 0F F0");
inline const Bytes upgraded_module = hex_bytes(
    "CB 10 7F FF 87 CD F0 0F 00 00 00 30 00 00 00 00 00 07 01 02 41 42 43 44 00 00 00 00"
    " 00 00 00 24 00 00 00 28 41 00 00 00 01 02 03 04 5A 69 0F F0");

