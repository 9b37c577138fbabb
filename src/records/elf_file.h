// Reading an ELF file: the bytes its loadable segments hold.
//
// The file bytes of each loadable segment (PT_LOAD: p_filesz bytes from
// p_offset) belong at its physical address p_paddr, as a conversion to
// S-records places them; the module is what lies from the link address
// on, and the segments' other bytes (vectors, code, RAM data) are passed
// over. An ELF file of either class (32 or 64 bits) and either byte order
// is read; every offset, size and count its header, program headers and
// section header table give is checked against the file before it is
// used.
#pragma once

#include <cstddef>
#include <cstdint>

struct RecordLoad;

// Reads the ELF file's headers and gives found the file part of each
// loadable segment with file bytes as an extent at its physical address,
// wide for an ELF64 file, and the copy's plan of the file: every byte as it
// is, but the CRCs of the modules taken (module_load.h). Returns 0, errno
// when the file cannot be opened, ERR_ELF_FILE (no ELF file, or a damaged
// one), ERR_NO_MEMORY or ERR_READ_SHORT, each but the first with a message.
[[nodiscard]] int32_t load_elf_file(RecordLoad *found, const char *path);

// A section of the ELF file whose address in memory is one a run was
// given, while its bytes load elsewhere or it has none in the file (.bss).
struct SectionPlace {
    char name[32];
    bool no_bits;           // the section has no bytes in the file
    uint64_t load_address;  // where its file bytes load
};

// For the words of a failure: the section at address in memory of the
// file at path that loads elsewhere or has no file bytes. False for none.
bool find_section(const char *path, uint64_t address, SectionPlace *place);
