// Loading the module from an ELF file.
#include "records/elf_file.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "byte_order.h"
#include "module/loader_input.h"
#include "module/module_format.h"
#include "platform/file_copy.h"
#include "state.h"
#include "status.h"

namespace {

// The ELF header fields read here, by class:
//
//   FIELD       ELF32 OFFSET WIDTH   ELF64 OFFSET WIDTH
//   e_ident     0       16           0       16     7F 'E' 'L' 'F', class, byte order, version
//   e_phoff     28      4            32      8      program header table
//   e_phentsize 42      2            54      2      bytes of one program header
//   e_phnum     44      2            56      2      program headers
//
// and of a program header:
//
//   p_type      0       4            0       4      1 = PT_LOAD
//   p_offset    4       4            8       8      where its file bytes begin
//   p_paddr     12      4            24      8      the physical address they load at
//   p_filesz    16      4            32      8      bytes in the file
constexpr uint32_t ELF_IDENT_SIZE = 16;
constexpr uint8_t ELF_MAGIC[4] = {0x7F, 'E', 'L', 'F'};
constexpr uint8_t CLASS_32 = 1, CLASS_64 = 2;
constexpr uint8_t DATA_LITTLE = 1, DATA_BIG = 2;
constexpr uint8_t VERSION_CURRENT = 1;
constexpr uint32_t PT_LOAD = 1;
constexpr uint32_t PN_XNUM = 0xFFFF;  // the count lies elsewhere: not written by our linkers

struct Layout {
    uint32_t header_size, phoff_at, phoff_width, phentsize_at, phnum_at;
    uint32_t ph_size, offset_at, paddr_at, filesz_at, field_width;
};
constexpr Layout LAYOUT_32 = {52, 28, 4, 42, 44, 32, 4, 12, 16, 4};
constexpr Layout LAYOUT_64 = {64, 32, 8, 54, 56, 56, 8, 24, 32, 8};

// The ELF file being read: its stream, size, layout and byte order.
struct ElfFile {
    FILE *file;
    const char *path;
    uint64_t size;
    const Layout *layout;
    bool big_endian;
    uint64_t phoff;
    uint32_t phentsize;
    uint32_t phnum;
};

// A loadable segment's file part.
struct Segment {
    uint64_t offset;
    uint64_t paddr;
    uint64_t filesz;
};

uint64_t field(const ElfFile &elf, const uint8_t *p, uint32_t width)
{
    uint64_t v = 0;
    for (uint32_t i = 0; i < width; i++) {
        uint32_t byte = elf.big_endian ? i : width - 1 - i;
        v = (v << 8) | p[byte];
    }
    return v;
}

int32_t damaged(const ElfFile &elf, const char *what)
{
    std::printf("ELF file %s is damaged: %s, Aborting\n", elf.path, what);
    return ERR_ELF_FILE;
}

// Reads n bytes at offset, which the caller has checked lie in the file.
bool read_at(const ElfFile &elf, uint64_t offset, uint8_t *out, size_t n)
{
    return seek_to(elf.file, offset) == 0 && std::fread(out, 1, n, elf.file) == n;
}

// The ELF header: identification, class and byte order, and a program
// header table that lies inside the file.
int32_t read_header(ElfFile *elf)
{
    uint8_t h[64] = {};
    if (elf->size < ELF_IDENT_SIZE || !read_at(*elf, 0, h, ELF_IDENT_SIZE) ||
        std::memcmp(h, ELF_MAGIC, sizeof ELF_MAGIC) != 0) {
        std::printf("%s is no ELF file, Aborting\n", elf->path);
        return ERR_ELF_FILE;
    }
    if ((h[4] != CLASS_32 && h[4] != CLASS_64) || (h[5] != DATA_LITTLE && h[5] != DATA_BIG) ||
        h[6] != VERSION_CURRENT)
        return damaged(*elf, "unknown class, byte order or version");
    elf->layout = h[4] == CLASS_32 ? &LAYOUT_32 : &LAYOUT_64;
    elf->big_endian = h[5] == DATA_BIG;
    const Layout &l = *elf->layout;
    if (elf->size < l.header_size || !read_at(*elf, 0, h, l.header_size))
        return damaged(*elf, "its header is cut short");
    elf->phoff = field(*elf, h + l.phoff_at, l.phoff_width);
    elf->phentsize = uint32_t(field(*elf, h + l.phentsize_at, 2));
    elf->phnum = uint32_t(field(*elf, h + l.phnum_at, 2));
    if (elf->phnum == PN_XNUM)
        return damaged(*elf, "more program headers than its header can count");
    if (elf->phnum > 0 && elf->phentsize < l.ph_size)
        return damaged(*elf, "its program headers are too short");
    uint64_t table = uint64_t(elf->phentsize) * elf->phnum;
    if (elf->phoff > elf->size || table > elf->size - elf->phoff)
        return damaged(*elf, "its program headers lie beyond its end");
    return STATUS_OK;
}

// Program header i; *load is false for a segment that is not loaded or has
// no file bytes.
int32_t read_segment(const ElfFile &elf, uint32_t i, Segment *s, bool *load)
{
    const Layout &l = *elf.layout;
    uint8_t p[56];
    if (!read_at(elf, elf.phoff + uint64_t(i) * elf.phentsize, p, l.ph_size))
        return damaged(elf, "its program headers cannot be read");
    *load = field(elf, p, 4) == PT_LOAD;
    s->offset = field(elf, p + l.offset_at, l.field_width);
    s->paddr = field(elf, p + l.paddr_at, l.field_width);
    s->filesz = field(elf, p + l.filesz_at, l.field_width);
    if (!*load)
        return STATUS_OK;
    if (s->offset > elf.size || s->filesz > elf.size - s->offset)
        return damaged(elf, "a segment lies beyond its end");
    *load = s->filesz > 0;
    return STATUS_OK;
}

// Reads the part of a segment that lies in the image.
int32_t place_segment(const ElfFile &elf, const Segment &s, uint8_t *image, uint32_t capacity)
{
    uint64_t first = link_address, end = uint64_t(link_address) + capacity;
    if (s.paddr >= end)
        return STATUS_OK;
    // Below end (under 2^33) here, and filesz within the file: no wrap.
    uint64_t from = s.paddr > first ? s.paddr : first;
    uint64_t to = s.paddr + s.filesz < end ? s.paddr + s.filesz : end;
    if (from >= to)
        return STATUS_OK;
    size_t n = size_t(to - from);
    if (!read_at(elf, s.offset + (from - s.paddr), image + (from - first), n)) {
        std::printf("Unable to read %s to its end, Aborting\n", elf.path);
        return ERR_READ_SHORT;
    }
    loaded_bytes += uint32_t(n);
    return STATUS_OK;
}

// Notes the file offsets of the CRC's bytes that the segment holds.
void note_crc_bytes(const Segment &s, unsigned *found)
{
    for (uint32_t k = 0; k < 2; k++) {
        uint64_t address = uint64_t(link_address) + k;
        if (address < s.paddr || address - s.paddr >= s.filesz ||
            copy_plan.patched_count == MAX_PATCHED_RECORDS)
            continue;
        copy_plan.patched[copy_plan.patched_count++] = {s.offset + (address - s.paddr), 1, 0,
                                                        uint32_t(address)};
        *found |= 1u << k;
    }
}

// The copy writes the patched bytes in file order.
void sort_patched_bytes()
{
    for (int i = 1; i < copy_plan.patched_count; i++)
        for (int j = i; j > 0 && copy_plan.patched[j - 1].offset > copy_plan.patched[j].offset; j--)
            std::swap(copy_plan.patched[j - 1], copy_plan.patched[j]);
}

int32_t read_segments(const ElfFile &elf, uint8_t *image, uint32_t capacity)
{
    unsigned found = 0;
    for (uint32_t i = 0; i < elf.phnum; i++) {
        Segment s;
        bool load = false;
        if (int32_t rc = read_segment(elf, i, &s, &load); rc != STATUS_OK)
            return rc;
        if (!load)
            continue;
        if (int32_t rc = place_segment(elf, s, image, capacity); rc != STATUS_OK)
            return rc;
        note_crc_bytes(s, &found);
    }
    if (found != 3) {
        std::printf("No segment of %s holds the CRC at link address %08lX, Aborting\n", elf.path,
                    static_cast<unsigned long>(link_address));
        return ERR_CRC_NOT_IN_FILE;
    }
    sort_patched_bytes();
    return STATUS_OK;
}

}  // namespace

int32_t load_elf(const char *path, uint8_t *image, uint32_t capacity, uint32_t block)
{
    copy_plan = CopyPlan{};
    load_report = LoadReport{};
    load_report.capacity = capacity;
    loaded_bytes = 0;
    FILE *f;
    if (int32_t rc = open_loader_input(path, capacity, block, &f); rc != STATUS_OK)
        return rc;
    ElfFile elf = {f, path, 0, nullptr, false, 0, 0, 0};
    FileIdentity id;
    int32_t status = ERR_READ_SHORT;
    if (file_identity(f, &id)) {
        elf.size = id.size;
        status = read_header(&elf);
    }
    if (status == STATUS_OK)
        status = read_segments(elf, image, capacity);
    if (status == STATUS_OK) {
        copy_plan.format = RecordFormat::ELF;
        copy_plan.file = id;
        copy_plan.clean_end = id.size;
        copy_plan.valid = true;
    } else {
        copy_plan = CopyPlan{};
    }
    std::fclose(f);
    fill_summary(image, block);
    return status;
}
