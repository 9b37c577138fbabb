// Loading the module from an ELF file.
#include "records/elf_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "byte_order.h"
#include "module/image_builder.h"
#include "module/loader_input.h"
#include "module/module_format.h"
#include "module_layout.h"
#include "platform/file_copy.h"
#include "records/record_load.h"
#include "state.h"
#include "status.h"

namespace {

// The ELF header fields read here, by class:
//
//   FIELD       ELF32 OFFSET WIDTH   ELF64 OFFSET WIDTH
//   e_ident     0       16           0       16     7F 'E' 'L' 'F', class, byte order, version
//   e_phoff     28      4            32      8      program header table
//   e_shoff     32      4            40      8      section header table
//   e_phentsize 42      2            54      2      bytes of one program header
//   e_phnum     44      2            56      2      program headers
//   e_shentsize 46      2            58      2      bytes of one section header
//   e_shnum     48      2            60      2      section headers
//
// and of a program header:
//
//   p_type      0       4            0       4      0 = PT_NULL (unused), 1 = PT_LOAD
//   p_offset    4       4            8       8      where its file bytes begin
//   p_paddr     12      4            24      8      the physical address they load at
//   p_filesz    16      4            32      8      bytes in the file
constexpr uint32_t ELF_IDENT_SIZE = 16;
constexpr uint8_t ELF_MAGIC[4] = {0x7F, 'E', 'L', 'F'};
constexpr uint8_t CLASS_32 = 1, CLASS_64 = 2;
constexpr uint8_t DATA_LITTLE = 1, DATA_BIG = 2;
constexpr uint8_t VERSION_CURRENT = 1;
constexpr uint32_t PT_NULL = 0;
constexpr uint32_t PT_LOAD = 1;
constexpr uint32_t PN_XNUM = 0xFFFF;  // the count lies elsewhere: not written by our linkers

struct Layout {
    uint32_t header_size, phoff_at, shoff_at, offset_width, phentsize_at, phnum_at;
    uint32_t shentsize_at, shnum_at, ph_size, sh_size, p_offset_at, p_paddr_at, p_filesz_at;
};
constexpr Layout LAYOUT_32 = {52, 28, 32, 4, 42, 44, 46, 48, 32, 40, 4, 12, 16};
constexpr Layout LAYOUT_64 = {64, 32, 40, 8, 54, 56, 58, 60, 56, 64, 8, 24, 32};

// Program headers are read this many bytes at a time, whatever their count.
constexpr size_t TABLE_PIECE = 65536;

// The ELF file being read: its stream, size, layout and byte order, and
// where its program header table lies.
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

int32_t unreadable(const char *path)
{
    std::printf("Unable to read %s to its end, Aborting\n", path);
    return ERR_READ_SHORT;
}

// Reads n bytes at offset, which the caller has checked lie in the file.
bool read_at(const ElfFile &elf, uint64_t offset, uint8_t *out, size_t n)
{
    return seek_to(elf.file, offset) == 0 && std::fread(out, 1, n, elf.file) == n;
}

// Whether count entries of entry_size bytes from offset lie in the file.
bool table_in_file(const ElfFile &elf, uint64_t offset, uint64_t entry_size, uint64_t count)
{
    return offset <= elf.size && entry_size * count <= elf.size - offset;
}

// The section header table: where it lies and its entries' size, not what
// they say. With e_shnum 0 and a table, the count lies in its first entry,
// which must be there.
int32_t check_section_table(const ElfFile &elf, const uint8_t *h)
{
    const Layout &l = *elf.layout;
    uint64_t shoff = field(elf, h + l.shoff_at, l.offset_width);
    uint32_t shentsize = uint32_t(field(elf, h + l.shentsize_at, 2));
    uint32_t shnum = uint32_t(field(elf, h + l.shnum_at, 2));
    if (shoff == 0)
        return STATUS_OK;
    uint32_t entries = shnum > 0 ? shnum : 1;
    if (shentsize < l.sh_size)
        return damaged(elf, "its section headers are too short");
    if (!table_in_file(elf, shoff, shentsize, entries))
        return damaged(elf, "its section headers lie beyond its end");
    return STATUS_OK;
}

// The ELF header: identification, class and byte order, and program and
// section header tables that lie inside the file.
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
    elf->phoff = field(*elf, h + l.phoff_at, l.offset_width);
    elf->phentsize = uint32_t(field(*elf, h + l.phentsize_at, 2));
    elf->phnum = uint32_t(field(*elf, h + l.phnum_at, 2));
    if (elf->phnum == PN_XNUM)
        return damaged(*elf, "more program headers than its header can count");
    if (elf->phnum > 0 && elf->phentsize < l.ph_size)
        return damaged(*elf, "its program headers are too short");
    if (!table_in_file(*elf, elf->phoff, elf->phentsize, elf->phnum))
        return damaged(*elf, "its program headers lie beyond its end");
    return check_section_table(*elf, h);
}

// Checks one program header and keeps it when it is a PT_LOAD segment with
// file bytes. Every header that is in use must lie in the file.
int32_t take_program_header(const ElfFile &elf, const uint8_t *p, uint32_t index, ElfLoad *load)
{
    const Layout &l = *elf.layout;
    uint32_t type = uint32_t(field(elf, p, 4));
    ElfSegment s = {field(elf, p + l.p_offset_at, l.offset_width),
                    field(elf, p + l.p_paddr_at, l.offset_width),
                    field(elf, p + l.p_filesz_at, l.offset_width), index};
    if (type == PT_NULL)
        return STATUS_OK;
    if (!table_in_file(elf, s.offset, 1, s.filesz))
        return damaged(elf, type == PT_LOAD ? "a segment lies beyond its end"
                                            : "a program header points beyond its end");
    if (type == PT_LOAD && s.filesz > 0)
        load->segments[load->count++] = s;
    return STATUS_OK;
}

// The program header table, read a piece at a time: each header is looked
// at once, however many there are.
int32_t read_program_headers(const ElfFile &elf, ElfLoad *load)
{
    load->segments = static_cast<ElfSegment *>(std::malloc(sizeof(ElfSegment) * (elf.phnum + 1)));
    if (elf.phnum == 0)
        return load->segments ? STATUS_OK : ERR_NO_MEMORY;
    size_t per_piece = TABLE_PIECE / elf.phentsize + 1;
    auto *piece = static_cast<uint8_t *>(std::malloc(per_piece * elf.phentsize));
    int32_t status = load->segments && piece ? STATUS_OK : ERR_NO_MEMORY;
    for (uint32_t first = 0; status == STATUS_OK && first < elf.phnum; first += uint32_t(per_piece)) {
        uint32_t n = elf.phnum - first < per_piece ? elf.phnum - first : uint32_t(per_piece);
        if (!read_at(elf, elf.phoff + uint64_t(first) * elf.phentsize, piece, size_t(n) * elf.phentsize))
            status = unreadable(elf.path);
        for (uint32_t i = 0; status == STATUS_OK && i < n; i++)
            status = take_program_header(elf, piece + size_t(i) * elf.phentsize, first + i, load);
    }
    std::free(piece);
    return status;
}

// The part of segment s that falls in [from, from + length), as file
// offset and address; false when none does.
bool segment_part(const ElfSegment &s, uint64_t from, uint64_t length, uint64_t *offset,
                  uint64_t *address, uint64_t *n)
{
    uint64_t end = from + length < from ? UINT64_MAX : from + length;
    uint64_t s_end = s.paddr + s.filesz < s.paddr ? UINT64_MAX : s.paddr + s.filesz;
    uint64_t first = s.paddr > from ? s.paddr : from;
    uint64_t last = s_end < end ? s_end : end;
    if (first >= last)
        return false;
    *offset = s.offset + (first - s.paddr);
    *address = first;
    *n = last - first;
    return true;
}

// Two segments whose bytes both land in the module would give some of its
// bytes twice, and the CRC written would be wrong for one of them. The
// parts in the module are sorted by address; a part that begins below the
// end of one before it overlaps that one.
int32_t check_overlaps(const ElfFile &elf, const ElfLoad &load, uint64_t length)
{
    struct Part {
        uint64_t from, to;
        uint32_t index;
    };
    auto *parts = static_cast<Part *>(std::malloc(sizeof(Part) * (load.count + 1)));
    if (!parts)
        return ERR_NO_MEMORY;
    uint32_t n = 0;
    for (uint32_t i = 0; i < load.count; i++) {
        uint64_t offset, address, bytes;
        if (segment_part(load.segments[i], load.link, length, &offset, &address, &bytes))
            parts[n++] = {address, address + bytes, load.segments[i].index};
    }
    std::qsort(parts, n, sizeof(Part), [](const void *a, const void *b) {
        uint64_t x = static_cast<const Part *>(a)->from, y = static_cast<const Part *>(b)->from;
        return x < y ? -1 : x > y ? 1 : 0;
    });
    int32_t status = STATUS_OK;
    uint32_t widest = 0;  // the part before that reaches furthest
    for (uint32_t i = 1; i < n && status == STATUS_OK; i++) {
        if (parts[i].from < parts[widest].to) {
            uint64_t to = parts[i].to < parts[widest].to ? parts[i].to : parts[widest].to;
            char what[160];
            std::snprintf(what, sizeof what, "segments %lu and %lu both load %08llX-%08llX",
                          static_cast<unsigned long>(parts[widest].index),
                          static_cast<unsigned long>(parts[i].index),
                          static_cast<unsigned long long>(parts[i].from),
                          static_cast<unsigned long long>(to - 1));
            status = damaged(elf, what);
        }
        if (parts[i].to > parts[widest].to)
            widest = i;
    }
    std::free(parts);
    return status;
}

// Copies the file bytes that the segments hold in [from, from + length)
// to out; bytes no segment holds are left as they are. *placed counts them.
int32_t read_module_bytes(const ElfFile &elf, const ElfLoad &load, uint64_t from, uint64_t length,
                          uint8_t *out, uint64_t *placed)
{
    for (uint32_t i = 0; i < load.count; i++) {
        uint64_t offset, address, n;
        if (!segment_part(load.segments[i], from, length, &offset, &address, &n))
            continue;
        if (!read_at(elf, offset, out + (address - from), size_t(n)))
            return unreadable(elf.path);
        *placed += n;
    }
    return STATUS_OK;
}

// The file offsets of the CRC's two bytes, in file order, for the copy.
// With no overlap in the module, one segment at most holds each.
int32_t plan_crc_bytes(const ElfFile &elf, const ElfLoad &load, CopyPlan *plan)
{
    for (uint32_t i = 0; i < load.count; i++) {
        uint64_t offset, address, n;
        if (!segment_part(load.segments[i], load.link, 2, &offset, &address, &n))
            continue;
        for (uint64_t k = 0; k < n; k++)
            plan->patched[plan->patched_count++] = {offset + k, 1, 0,
                                                    uint32_t(address + k - load.link)};
    }
    if (plan->patched_count != 2) {
        std::printf("No segment of %s holds the CRC at link address %08llX, Aborting\n", elf.path,
                    static_cast<unsigned long long>(load.link));
        return ERR_CRC_NOT_IN_FILE;
    }
    if (plan->patched[0].offset > plan->patched[1].offset)
        std::swap(plan->patched[0], plan->patched[1]);
    return STATUS_OK;
}

// Opens the file and reads its header; *elf is ready for the tables.
int32_t open_elf(const char *path, ElfFile *elf, FileIdentity *id)
{
    *elf = {std::fopen(path, "rb"), path, 0, nullptr, false, 0, 0, 0};
    if (!elf->file)
        return errno;
    if (!file_identity(elf->file, id))
        return unreadable(path);
    elf->size = id->size;
    return read_header(elf);
}

}  // namespace

int32_t size_elf(RecordLoad *found, const char *path, uint64_t file_size, uint32_t *capacity)
{
    release_elf_load(&found->elf);
    *found = RecordLoad{};
    found->format = RecordFormat::ELF;
    ElfLoad *load = &found->elf;
    CopyPlan *plan = &found->plan;
    ElfFile elf;
    FileIdentity id;
    int32_t status = open_elf(path, &elf, &id);
    if (status == STATUS_OK)
        status = read_program_headers(elf, load);
    // An ELF64 file's addresses take all of -l; an ELF32 file's 32 bits.
    load->wide = elf.layout == &LAYOUT_64;
    load->link = load->wide ? link_address_wide : link_address;
    found->report.wide_link = load->wide;
    // The module's size from its header, where the segments hold it.
    uint8_t header[HEADER_SIZE];
    std::memset(header, 0xFF, sizeof header);
    uint64_t placed = 0;
    if (status == STATUS_OK)
        status = read_module_bytes(elf, *load, load->link, HEADER_SIZE, header, &placed);
    if (status == STATUS_OK) {
        uint32_t size = get_be32(header + HDR_SIZE);
        uint32_t most = image_capacity(file_size);
        *capacity = size < MIN_CAPACITY ? MIN_CAPACITY : size > most ? most : size;
        status = check_overlaps(elf, *load, *capacity);
    }
    if (status == STATUS_OK)
        status = plan_crc_bytes(elf, *load, plan);
    if (status == STATUS_OK) {
        plan->file = id;
        plan->clean_end = id.size;
        plan->valid = true;
    } else {
        *plan = CopyPlan{};
    }
    if (elf.file)
        std::fclose(elf.file);
    return status;
}

int32_t load_elf(RecordLoad *found, const char *path, uint8_t *image, uint32_t capacity,
                 uint32_t block)
{
    const ElfLoad *load = &found->elf;
    CopyPlan *plan = &found->plan;
    found->report.capacity = capacity;
    loaded_bytes = 0;
    FILE *f;
    if (int32_t rc = open_loader_input(path, capacity, block, &f); rc != STATUS_OK)
        return rc;
    ElfFile elf = {f, path, 0, nullptr, false, 0, 0, 0};
    FileIdentity id;
    uint64_t placed = 0;
    int32_t status = STATUS_OK;
    // The file must be the one that was sized: its segments are read now.
    if (!file_identity(f, &id) || !plan->valid || !same_identity(id, plan->file)) {
        std::printf("%s changed while it was read, Aborting\n", path);
        status = ERR_READ_SHORT;
    }
    if (status == STATUS_OK)
        status = read_module_bytes(elf, *load, load->link, capacity, image, &placed);
    if (status != STATUS_OK)
        *plan = CopyPlan{};
    std::fclose(f);
    loaded_bytes = uint32_t(placed);
    fill_summary(image, block);
    return status;
}

void release_elf_load(ElfLoad *load)
{
    std::free(load->segments);
    *load = ElfLoad{};
}
