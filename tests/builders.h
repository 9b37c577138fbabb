// Modules, entries and record files built byte by byte for the tests.
#pragma once

#include <cstdint>
#include <string>

#include "test_support.h"

// ---- modules and entries

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

// The 44-byte module: fresh header, size 44, name "A", trailer; CRC unset.
inline Bytes small_module()
{
    return hex_bytes("FF FF 7F FF 87 CD F0 0F 00 00 00 2C 00 00 00 00 00 00 00 00"
                     " 44 41 54 41 44 41 54 41 00 00 00 24 00 00 00 28"
                     " 41 00 00 00 5A 69 0F F0");
}

// ---- record files: S-record lines and T-records with their checksums

// The bytes both record forms carry after the type: count, address of
// address_width bytes, data, checksum.
inline Bytes record_body(uint32_t address, int address_width, const Bytes &data)
{
    Bytes bytes;
    bytes.push_back(char(address_width + data.size() + 1));
    for (int i = address_width - 1; i >= 0; i--)
        bytes.push_back(char(address >> (8 * i)));
    bytes += data;
    unsigned sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    bytes.push_back(char(0xFF - (sum & 0xFF)));
    return bytes;
}

// One S-record line without its line end: "S", type, count, address of
// address_width bytes, data, checksum, all in upper-case hex.
inline std::string s_record(char type, uint32_t address, int address_width, const Bytes &data)
{
    static const char digits[] = "0123456789ABCDEF";
    Bytes bytes = record_body(address, address_width, data);
    std::string line = {'S', type};
    for (unsigned char c : bytes) {
        line.push_back(digits[c >> 4]);
        line.push_back(digits[c & 0xF]);
    }
    return line;
}

// S1, S2 or S3 data record (type '1', '2', '3').
inline std::string s_data(char type, uint32_t address, const Bytes &data)
{
    return s_record(type, address, type - '0' + 1, data);
}

// One T-record: "T", type, count, address of address_width bytes, data, checksum.
inline Bytes t_record(char type, uint32_t address, int address_width, const Bytes &data)
{
    return Bytes{'T', type} + record_body(address, address_width, data);
}

// A valid module of size bytes (a multiple of 4, at least 44) with the CRC
// unset, the tag "TESTMODU", the name "T" and data bytes that vary.
inline Bytes test_module(uint32_t size)
{
    Bytes m = hex_bytes("FF FF 7F FF 87 CD F0 0F 00 00 00 00 00 00 00 00 07 00 00 03"
                        " 54 45 53 54 4D 4F 44 55 00 00 00 24 00 00 00 28"
                        " 54 00 00 00");
    m[8] = char(size >> 24);
    m[9] = char(size >> 16);
    m[10] = char(size >> 8);
    m[11] = char(size);
    for (uint32_t i = uint32_t(m.size()); i < size - 4; i++)
        m.push_back(char(i * 37 + (i >> 8)));
    m += hex_bytes("5A 69 0F F0");
    return m;
}

// An S-record file of the module at address: optional S0 header, data
// records of per_line bytes of the given type, an S9/S8/S7 end record.
inline std::string s_file(const Bytes &module, uint32_t address, char type, size_t per_line,
                          const std::string &eol = "\n", bool header = true)
{
    std::string text;
    if (header)
        text += s_record('0', 0, 2, "HDR") + eol;
    for (size_t at = 0; at < module.size(); at += per_line)
        text += s_data(type, address + uint32_t(at), module.substr(at, per_line)) + eol;
    char end = char('9' - (type - '1'));
    text += s_record(end, address, type - '0' + 1, "") + eol;
    return text;
}

// ---- Intel HEX: ":" lines with their two's-complement checksums

// One Intel HEX line without its line end: ":", count, 16-bit address, type,
// data, checksum, in upper-case hex.
inline std::string ihex_record(uint8_t type, uint16_t address, const Bytes &data)
{
    static const char digits[] = "0123456789ABCDEF";
    Bytes bytes{char(data.size()), char(address >> 8), char(address), char(type)};
    bytes += data;
    unsigned sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    bytes.push_back(char(-sum));
    std::string line = ":";
    for (unsigned char c : bytes) {
        line.push_back(digits[c >> 4]);
        line.push_back(digits[c & 0xF]);
    }
    return line;
}

// An extended linear address record (04) for the upper 16 bits of address.
inline std::string ihex_linear_base(uint32_t address)
{
    return ihex_record(0x04, 0, Bytes{char(address >> 24), char(address >> 16)});
}

inline const std::string IHEX_END = ":00000001FF";

// An Intel HEX file of the module at address: a 04 record, data records of
// per_line bytes (a new 04 record where the upper address bits change), the
// end-of-file record.
inline std::string ihex_file(const Bytes &module, uint32_t address, size_t per_line,
                             const std::string &eol = "\n")
{
    std::string text = ihex_linear_base(address) + eol;
    uint32_t upper = address >> 16;
    for (size_t at = 0; at < module.size(); at += per_line) {
        uint32_t a = address + uint32_t(at);
        if (a >> 16 != upper) {
            upper = a >> 16;
            text += ihex_linear_base(a) + eol;
        }
        text += ihex_record(0x00, uint16_t(a), module.substr(at, per_line)) + eol;
    }
    return text + IHEX_END + eol;
}
