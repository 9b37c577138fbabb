// CRC-16/ARC in the byte-exchanged form the modules store: the table path,
// the choice among the kernels, and the file CRC.
#include "module/crc16.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "module/crc16_kernels.h"
#include "platform/input_file.h"
#include "state.h"
#include "status.h"

namespace {

// slice_tables[0] is the ordinary table: entry i is the register after
// feeding byte i into a zero register. slice_tables[k][i] is the register
// after byte i and then k zero bytes, so that the contributions of 16 bytes
// in a row can be looked up independently and XOR-ed together: still one
// table look-up per byte, but without the chain of dependent steps. Sixteen
// tables take 8 KiB, which stays in the first-level cache.
constexpr int SLICES = 16;
using SliceTables = std::array<std::array<uint16_t, 256>, SLICES>;

constexpr SliceTables make_tables()
{
    SliceTables t{};
    for (unsigned i = 0; i < 256; i++) {
        unsigned reg = i;
        for (int bit = 0; bit < 8; bit++)
            reg = (reg & 1) ? (reg >> 1) ^ 0xA001 : reg >> 1;
        t[0][i] = uint16_t(reg);
    }
    for (int k = 1; k < SLICES; k++)
        for (unsigned i = 0; i < 256; i++)
            t[k][i] = uint16_t((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    return t;
}

constexpr SliceTables slice_tables = make_tables();
static_assert(slice_tables[0][1] == 0xC0C1 && slice_tables[0][128] == 0xA001);

constexpr uint16_t exchange(uint16_t v) { return uint16_t((v << 8) | (v >> 8)); }

// Read pieces of 1 MiB: fewer system calls than small pieces, and a run of
// -c stays below 4 MiB of memory, which 2 MiB pieces would pass.
constexpr size_t FILE_PIECE = 0x100000;
constexpr size_t CACHE_LINE = 64;

}  // namespace

uint16_t crc16_register_table(uint16_t reg, const uint8_t *p, size_t n)
{
    const auto &t = slice_tables;
    for (; n >= SLICES; n -= SLICES, p += SLICES) {
        // The register overlaps the first two bytes of the group. The other
        // fourteen look-ups do not depend on it: XOR-ed first, they leave
        // only two look-ups between one group's register and the next
        // (written the other way round, clang chains all sixteen behind it).
        unsigned rest = t[13][p[2]] ^ t[12][p[3]] ^ t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^
                        t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^ t[4][p[11]] ^
                        t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
        reg = uint16_t(rest ^ t[15][(p[0] ^ reg) & 0xFF] ^ t[14][(p[1] ^ (reg >> 8)) & 0xFF]);
    }
    while (n--)
        reg = uint16_t(t[0][(reg ^ *p++) & 0xFF] ^ (reg >> 8));
    return reg;
}

namespace {

constexpr CrcKernel kernels[] = {
    {"table", crc16_register_table, 0},
#if CRC_CLMUL_KERNELS
    {"pclmul", crc16_register_pclmul, CPU_PCLMUL},
    {"vpclmul256", crc16_register_vpclmul_256, CPU_VPCLMUL_256},
    {"vpclmul512", crc16_register_vpclmul_512, CPU_VPCLMUL_512},
#endif
};

const CrcKernel *chosen = nullptr;

// Below this many bytes the table path takes less time than asking the
// processor which kernels it can run (in a virtual machine each question is
// a trip to the hypervisor): a run on a small module never asks.
constexpr size_t KERNEL_THRESHOLD = 128 * 1024;

uint16_t update_register(uint16_t reg, const uint8_t *p, size_t n)
{
    if (n < KERNEL_THRESHOLD)
        return crc16_register_table(reg, p, n);
    return crc16_chosen_kernel().run(reg, p, n);
}

}  // namespace

std::span<const CrcKernel> crc16_kernels() { return kernels; }

const CrcKernel &crc16_chosen_kernel() { return choose_kernel(crc16_kernels(), &chosen); }

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
    // The system copies file data faster into a buffer that starts on a
    // cache line; large calloc blocks start 16 bytes past one.
    auto *block = static_cast<uint8_t *>(std::calloc(FILE_PIECE + CACHE_LINE, 1));
    if (!block) {
        std::fclose(f);
        return ERR_NO_MEMORY;
    }
    uint8_t *buffer = block + (CACHE_LINE - reinterpret_cast<uintptr_t>(block) % CACHE_LINE) % CACHE_LINE;
    uint16_t running = 0;
    size_t n;
    do {
        n = std::fread(buffer, 1, FILE_PIECE, f);
        if (n > 0)
            running = crc16_update(buffer, n, running);
    } while (n == FILE_PIECE);
    *crc = running;
    std::free(block);
    std::fclose(f);
    return STATUS_OK;
}

int32_t print_file_crc(const char *path, int64_t *size_out, uint16_t *crc_out)
{
    // Without -m there is no file to open; report it as a missing file.
    const char *shown = path ? path : "";
    FILE *f = path ? open_input_file(path, "rb") : nullptr;
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
    if (!(options & OPT_JSON))
        std::printf("%s Size %ld Crc %04x\n", path, size, unsigned(crc));
    *size_out = size;
    *crc_out = crc;
    return rc;
}
