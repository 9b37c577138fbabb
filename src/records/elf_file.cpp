// Loading the module from an ELF file.
#include "records/elf_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file_copy.h"
#include "records/extents.h"
#include "records/record_load.h"
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
constexpr uint32_t SHT_NULL = 0;
constexpr uint32_t SHT_NOBITS = 8;   // a section with no bytes in the file (.bss)
constexpr uint64_t SHF_ALLOC = 0x2;  // a section that takes memory when the program runs
constexpr uint32_t PN_XNUM = 0xFFFF;  // the count lies elsewhere: not written by our linkers

struct Layout {
    uint32_t header_size, phoff_at, shoff_at, offset_width, phentsize_at, phnum_at;
    uint32_t shentsize_at, shnum_at, shstrndx_at, ph_size, sh_size, p_offset_at, p_paddr_at,
        p_filesz_at;
    uint32_t sh_flags_at, sh_addr_at, sh_offset_at, sh_size_at;
};
constexpr Layout LAYOUT_32 = {52, 28, 32, 4, 42, 44, 46, 48, 50, 32, 40, 4, 12, 16, 8, 12, 16, 20};
constexpr Layout LAYOUT_64 = {64, 32, 40, 8, 54, 56, 58, 60, 62, 56, 64, 8, 24, 32, 8, 16, 24, 32};

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
    uint64_t shoff;      // the section header table, checked to lie in the file
    uint32_t shentsize;
    uint32_t shnum;
    uint32_t shstrndx;   // the section that holds the sections' names
    bool quiet;          // read for the words of a failure: no message of its own
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
    if (!elf.quiet)
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
int32_t check_section_table(ElfFile *elf, const uint8_t *h)
{
    const Layout &l = *elf->layout;
    elf->shoff = field(*elf, h + l.shoff_at, l.offset_width);
    elf->shentsize = uint32_t(field(*elf, h + l.shentsize_at, 2));
    elf->shnum = uint32_t(field(*elf, h + l.shnum_at, 2));
    elf->shstrndx = uint32_t(field(*elf, h + l.shstrndx_at, 2));
    if (elf->shoff == 0)
        return STATUS_OK;
    uint32_t entries = elf->shnum > 0 ? elf->shnum : 1;
    if (elf->shentsize < l.sh_size)
        return damaged(*elf, "its section headers are too short");
    if (!table_in_file(*elf, elf->shoff, elf->shentsize, entries))
        return damaged(*elf, "its section headers lie beyond its end");
    return STATUS_OK;
}

// The ELF header: identification, class and byte order, and program and
// section header tables that lie inside the file.
int32_t read_header(ElfFile *elf)
{
    uint8_t h[64] = {};
    if (elf->size < ELF_IDENT_SIZE || !read_at(*elf, 0, h, ELF_IDENT_SIZE) ||
        std::memcmp(h, ELF_MAGIC, sizeof ELF_MAGIC) != 0) {
        if (!elf->quiet)
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
    return check_section_table(elf, h);
}

// Checks one program header and keeps its file part when it is a PT_LOAD
// segment with file bytes. Every header that is in use must lie in the file.
int32_t take_program_header(const ElfFile &elf, const uint8_t *p, uint32_t index, Extents *e)
{
    const Layout &l = *elf.layout;
    uint32_t type = uint32_t(field(elf, p, 4));
    uint64_t offset = field(elf, p + l.p_offset_at, l.offset_width);
    uint64_t paddr = field(elf, p + l.p_paddr_at, l.offset_width);
    uint64_t filesz = field(elf, p + l.p_filesz_at, l.offset_width);
    if (type == PT_NULL)
        return STATUS_OK;
    if (!table_in_file(elf, offset, 1, filesz))
        return damaged(elf, type == PT_LOAD ? "a segment lies beyond its end"
                                            : "a program header points beyond its end");
    if (type == PT_LOAD && filesz > 0 && !add_file_part(e, paddr, offset, filesz, index))
        return ERR_NO_MEMORY;
    return STATUS_OK;
}

// The program header table, read a piece at a time: each header is looked
// at once, however many there are.
int32_t read_program_headers(const ElfFile &elf, Extents *e)
{
    if (elf.phnum == 0)
        return STATUS_OK;
    size_t per_piece = TABLE_PIECE / elf.phentsize + 1;
    auto *piece = static_cast<uint8_t *>(std::malloc(per_piece * elf.phentsize));
    int32_t status = piece ? STATUS_OK : ERR_NO_MEMORY;
    for (uint32_t first = 0; status == STATUS_OK && first < elf.phnum; first += uint32_t(per_piece)) {
        uint32_t n = elf.phnum - first < per_piece ? elf.phnum - first : uint32_t(per_piece);
        if (!read_at(elf, elf.phoff + uint64_t(first) * elf.phentsize, piece, size_t(n) * elf.phentsize))
            status = elf.quiet ? ERR_READ_SHORT : unreadable(elf.path);
        for (uint32_t i = 0; status == STATUS_OK && i < n; i++)
            status = take_program_header(elf, piece + size_t(i) * elf.phentsize, first + i, e);
    }
    std::free(piece);
    return status;
}

// Opens the file and reads its header; *elf is ready for the tables.
int32_t open_elf(const char *path, ElfFile *elf, FileIdentity *id, bool quiet)
{
    *elf = {std::fopen(path, "rb"), path, 0, nullptr, false, 0, 0, 0, 0, 0, 0, 0, quiet};
    if (!elf->file)
        return errno;
    if (!file_identity(elf->file, id))
        return quiet ? ERR_READ_SHORT : unreadable(path);
    elf->size = id->size;
    return read_header(elf);
}

// The name of section header i from the section name table, which must lie
// in the file; false when it cannot be read.
bool section_name(const ElfFile &elf, const uint8_t *names_header, uint32_t name_at, char *name,
                  size_t size)
{
    const Layout &l = *elf.layout;
    uint64_t table = field(elf, names_header + l.sh_offset_at, l.offset_width);
    uint64_t table_size = field(elf, names_header + l.sh_size_at, l.offset_width);
    if (name_at >= table_size || !table_in_file(elf, table, 1, table_size))
        return false;
    size_t n = size - 1;
    if (table_size - name_at < n)
        n = size_t(table_size - name_at);
    std::memset(name, 0, size);
    return read_at(elf, table + name_at, reinterpret_cast<uint8_t *>(name), n);
}

}  // namespace

int32_t load_elf_file(RecordLoad *found, const char *path)
{
    release_extents(&found->extents);
    *found = RecordLoad{};
    found->format = RecordFormat::ELF;
    ElfFile elf;
    FileIdentity id;
    int32_t status = open_elf(path, &elf, &id, false);
    if (status == STATUS_OK)
        status = read_program_headers(elf, &found->extents);
    // An ELF64 file's addresses take all of -l; an ELF32 file's 32 bits.
    found->wide = elf.layout == &LAYOUT_64;
    found->report.wide_link = found->wide;
    if (status == STATUS_OK) {
        // The copy writes every byte as it is but the CRCs' (patched).
        found->plan.file = id;
        found->plan.clean_end = id.size;
        found->plan.valid = true;
    }
    if (elf.file)
        std::fclose(elf.file);
    return status;
}

bool find_section(const char *path, uint64_t address, SectionPlace *place)
{
    ElfFile elf;
    FileIdentity id;
    *place = SectionPlace{};
    bool found = false;
    if (open_elf(path, &elf, &id, true) == STATUS_OK && elf.shoff != 0 && elf.shstrndx < elf.shnum) {
        const Layout &l = *elf.layout;
        Extents segments = {};
        uint8_t names[64], h[64];
        bool ok = read_program_headers(elf, &segments) == STATUS_OK &&
                  read_at(elf, elf.shoff + uint64_t(elf.shstrndx) * elf.shentsize, names, l.sh_size);
        for (uint32_t i = 0; ok && !found && i < elf.shnum; i++) {
            if (!read_at(elf, elf.shoff + uint64_t(i) * elf.shentsize, h, l.sh_size))
                break;
            uint32_t type = uint32_t(field(elf, h + 4, 4));
            uint64_t addr = field(elf, h + l.sh_addr_at, l.offset_width);
            uint64_t offset = field(elf, h + l.sh_offset_at, l.offset_width);
            if (addr != address || type == SHT_NULL || !(field(elf, h + l.sh_flags_at, l.offset_width) & SHF_ALLOC))
                continue;
            place->no_bits = type == SHT_NOBITS;
            // Where its file bytes load: the segment that holds them.
            for (uint32_t k = 0; !place->no_bits && k < segments.count; k++) {
                const Extent &x = segments.list[k];
                if (offset >= x.at && offset - x.at < x.length)
                    place->load_address = x.address + (offset - x.at);
            }
            found = (place->no_bits || place->load_address != addr) &&
                    section_name(elf, names, uint32_t(field(elf, h, 4)), place->name, sizeof place->name);
        }
        release_extents(&segments);
    }
    if (elf.file)
        std::fclose(elf.file);
    return found;
}
