// CRC-16/ARC, table driven, in the byte-exchanged form the modules store.
#include "module/crc16.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "status.h"

namespace {

constexpr std::array<uint16_t, 256> make_table()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; i++) {
        unsigned reg = i;
        for (int bit = 0; bit < 8; bit++)
            reg = (reg & 1) ? (reg >> 1) ^ 0xA001 : reg >> 1;
        table[i] = uint16_t(reg);
    }
    return table;
}

constexpr std::array<uint16_t, 256> crc_table = make_table();

constexpr uint16_t exchange(uint16_t v) { return uint16_t((v << 8) | (v >> 8)); }

uint16_t update_register(uint16_t reg, const uint8_t *p, size_t n)
{
    while (n--)
        reg = uint16_t(crc_table[(reg ^ *p++) & 0xFF] ^ (reg >> 8));
    return reg;
}

constexpr size_t FILE_PIECE = 0x4000;

}  // namespace

uint16_t crc16_range(const uint8_t *first, const uint8_t *last)
{
    if (first > last)
        return 0;
    return exchange(update_register(0, first, size_t(last - first) + 1));
}

uint16_t crc16_update(const uint8_t *buffer, size_t length, uint16_t running)
{
    return exchange(update_register(exchange(running), buffer, length));
}

int32_t file_crc(const char *path, uint16_t *crc)
{
    *crc = 0;
    FILE *f = path ? std::fopen(path, "rb") : nullptr;
    if (!f)
        return path ? errno : ENOENT;
    auto *buffer = static_cast<uint8_t *>(std::calloc(FILE_PIECE + 16, 1));
    if (!buffer) {
        std::fclose(f);
        return ERR_NO_MEMORY;
    }
    uint16_t running = 0;
    size_t n;
    do {
        n = std::fread(buffer, 1, FILE_PIECE, f);
        if (n > 0)
            running = crc16_update(buffer, n, running);
    } while (n == FILE_PIECE);
    *crc = running;
    std::free(buffer);
    std::fclose(f);
    return STATUS_OK;
}

int32_t print_file_crc(const char *path)
{
    // Without -m there is no file to open; report it as a missing file.
    const char *shown = path ? path : "";
    FILE *f = path ? std::fopen(path, "rb") : nullptr;
    // Linux opens a directory, which Windows refuses; its first read fails.
    if (f && std::fgetc(f) == EOF && std::ferror(f)) {
        int32_t err = errno;
        std::fclose(f);
        f = nullptr;
        errno = err;
    }
    if (!f) {
        int32_t err = path ? errno : ENOENT;
        std::printf("Unable to open input file %s\n", shown);
        return err;
    }
    if (std::fseek(f, 0, SEEK_END) != 0) {
        int32_t err = errno;
        std::printf("Error in fseek SEEK_END %d\n", err);
        std::fclose(f);
        return err;
    }
    long size = std::ftell(f);
    std::fclose(f);
    uint16_t crc;
    int32_t rc = file_crc(path, &crc);
    std::printf("%s Size %ld Crc %04x\n", path, size, unsigned(crc));
    return rc;
}
