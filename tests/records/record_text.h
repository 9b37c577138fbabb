// Building record files for tests: S-record lines and T-records with their
// checksums, and modules to put in them.
#pragma once

#include <cstdint>
#include <string>

#include "test_support.h"

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
