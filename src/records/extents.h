// The bytes a file loads, by address: runs of addresses (extents), each
// with its bytes in memory (the data records of a record file) or in the
// file (the file part of an ELF segment). The image may be sparse, flash
// at 08000000 and RAM data at 20000000: nothing is held for the gaps.
#pragma once

#include <cstdint>
#include <cstdio>

struct Extent {
    uint64_t address;  // where its first byte loads
    uint64_t length;
    uint64_t at;       // in memory: offset of its bytes in the data; in the file: file offset
    uint32_t index;    // in the file: the number of its ELF program header
};

struct Extents {
    Extent *list;        // in the order they were added; from the heap
    uint32_t count;
    uint32_t capacity;
    uint8_t *data;       // the bytes of the extents in memory; from the heap
    uint64_t data_used;
    uint64_t data_size;
    bool in_file;        // the bytes are read from the file (ELF)
};

// Appends length bytes that load at address, in memory; bytes that follow
// the last extent's extend it. False when no memory is left.
[[nodiscard]] bool add_bytes(Extents *e, uint64_t address, const uint8_t *bytes, uint64_t length);

// Appends length bytes of the file from offset at, which load at address.
[[nodiscard]] bool add_file_part(Extents *e, uint64_t address, uint64_t at, uint64_t length,
                                 uint32_t index);

// Copies what the extents load in [from, from + length) to out, extents
// added later over earlier ones; bytes that no extent loads are left as
// they are. *placed counts the bytes copied (overlaps once each time).
// The file is read for extents in the file. False when a read fails.
[[nodiscard]] bool read_extents(const Extents &e, FILE *file, uint64_t from, uint64_t length,
                                uint8_t *out, uint64_t *placed);

// The part of an extent that lies in a range of addresses: [from, to),
// and the extent's index.
struct ExtentPart {
    uint64_t from, to;
    uint32_t index;
};

// The parts of the extents that lie in [from, from + length) (the whole
// extents for length 0), in address order; from the heap (std::free), null
// when no memory is left.
ExtentPart *extent_parts(const Extents &e, uint64_t from, uint64_t length, uint32_t *n);

// Whether every byte of [from, from + length) is loaded by some extent.
bool all_loaded(const Extents &e, uint64_t from, uint64_t length);

// The loaded address ranges, merged and in address order, written as
// "08000000-0800005F, 08008000-08008133" to text (size bytes); the first
// eight, then "...".
void describe_extents(const Extents &e, char *text, size_t size);

// Frees what the extents hold; they are empty afterwards.
void release_extents(Extents *e);
