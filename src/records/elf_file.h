// Loading the module from an ELF file.
//
// The file bytes of each loadable segment (PT_LOAD: p_filesz bytes from
// p_offset) belong at its physical address p_paddr, as a conversion to
// S-records places them. The module is what lies from the link address on;
// the segments' other bytes (vectors, code, RAM data) are passed over. An
// ELF file of either class (32 or 64 bits) and either byte order is read;
// every offset, size and count its header, program headers and section
// header table give is checked against the file before it is used.
#pragma once

#include <cstdint>

// A loadable segment's file part, and the number of its program header.
struct ElfSegment {
    uint64_t offset;
    uint64_t paddr;
    uint64_t filesz;
    uint32_t index;
};

struct RecordLoad;

// What sizing the image learns of an ELF file, for its load: part of the
// run's RecordLoad, which frees it.
struct ElfLoad {
    ElfSegment *segments;  // the PT_LOAD segments with file bytes, from the heap
    uint32_t count;
    uint64_t link;         // the module's address: -l, all 64 bits of it in an ELF64 file
    bool wide;             // the file is ELF64, whose addresses take all of -l
};

// Reads the ELF file's headers and the module header at the link address
// into *found (its segments, and the plan of the copy, which patches the
// file offsets of the CRC's two bytes), and gives in *capacity the image bytes the module needs: its size, at
// least 68, and no more than a file of file_size bytes can fill. Refuses a
// file in which two segments load bytes at the same address of the module,
// and one whose segments hold no file bytes at the CRC's place. Returns 0,
// errno when the file cannot be opened, ERR_ELF_FILE (no ELF file, or a
// damaged one), ERR_CRC_NOT_IN_FILE or ERR_READ_SHORT, each but the first
// with a message.
[[nodiscard]] int32_t size_elf(RecordLoad *found, const char *path, uint64_t file_size,
                               uint32_t *capacity);

// Places the part of the segments size_elf found that lies in the image
// (from the link address, capacity bytes). Sets loaded_bytes and fills the
// summary. Returns 0, errno when the file cannot be opened, ERR_IMAGE_FIT
// (capacity below 68), ERR_READ_SHORT or ERR_ELF_FILE (the file changed
// since it was sized), each but the first two with a message.
[[nodiscard]] int32_t load_elf(RecordLoad *found, const char *path, uint8_t *image,
                               uint32_t capacity, uint32_t block);

// Frees the segments size_elf kept; the load is empty afterwards.
void release_elf_load(ElfLoad *load);
