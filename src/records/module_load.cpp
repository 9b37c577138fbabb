// One module of the bytes a file loads.
#include "records/module_load.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "module/image_builder.h"
#include "module/loader_input.h"
#include "module/module_format.h"
#include "module_layout.h"
#include "options.h"
#include "platform/file_copy.h"
#include "state.h"
#include "status.h"

namespace {

// Two segments whose bytes both land in the module would give some of its
// bytes twice, and the CRC written would be wrong for one of them. The
// parts in the module are sorted by address; a part that begins below the
// end of one before it overlaps that one.
int32_t check_overlaps(const Extents &e, const char *path, uint64_t from, uint64_t length)
{
    uint32_t n;
    ExtentPart *parts = extent_parts(e, from, length, &n);
    if (!parts)
        return ERR_NO_MEMORY;
    int32_t status = STATUS_OK;
    uint32_t widest = 0;  // the part before that reaches furthest
    for (uint32_t i = 1; i < n && status == STATUS_OK; i++) {
        if (parts[i].from < parts[widest].to) {
            uint64_t to = parts[i].to < parts[widest].to ? parts[i].to : parts[widest].to;
            std::printf("ELF file %s is damaged: segments %lu and %lu both load %08llX-%08llX, "
                        "Aborting\n", path, static_cast<unsigned long>(parts[widest].index),
                        static_cast<unsigned long>(parts[i].index),
                        static_cast<unsigned long long>(parts[i].from),
                        static_cast<unsigned long long>(to - 1));
            status = ERR_ELF_FILE;
        }
        if (parts[i].to > parts[widest].to)
            widest = i;
    }
    std::free(parts);
    return status;
}

// The file offsets of the module's CRC bytes, for the copy, kept in file
// order. With no overlap in the module, one segment at most holds each.
int32_t plan_crc_bytes(RecordLoad *found, const char *path, uint64_t address)
{
    CopyPlan &plan = found->plan;
    int held = 0;
    for (uint32_t i = 0; i < found->extents.count; i++) {
        const Extent &x = found->extents.list[i];
        for (uint32_t k = 0; k < 2; k++) {
            uint64_t a = address + k;
            if (a < x.address || a - x.address >= x.length || plan.patched_count == MAX_PATCHED_RECORDS)
                continue;
            PatchedRecord byte = {x.at + (a - x.address), 1, 0, k, found->current};
            int at = plan.patched_count++;
            for (; at > 0 && plan.patched[at - 1].offset > byte.offset; at--)
                plan.patched[at] = plan.patched[at - 1];
            plan.patched[at] = byte;
            held++;
        }
    }
    if (held == 2)
        return STATUS_OK;
    std::printf("No segment of %s holds the CRC at link address %08llX, Aborting\n", path,
                static_cast<unsigned long long>(address));
    return ERR_CRC_NOT_IN_FILE;
}

}  // namespace

int32_t size_module(RecordLoad *found, const char *path, uint64_t file_size, uint32_t *capacity)
{
    const Extents &e = found->extents;
    uint64_t address = found->modules[found->current];
    uint8_t header[HEADER_SIZE];
    std::memset(header, 0xFF, sizeof header);
    uint64_t placed = 0;
    FILE *f = e.in_file ? std::fopen(path, "rb") : nullptr;
    bool read = (!e.in_file || f) && read_extents(e, f, address, HEADER_SIZE, header, &placed);
    if (f)
        std::fclose(f);
    if (!read) {
        std::printf("Unable to read %s to its end, Aborting\n", path);
        return ERR_READ_SHORT;
    }
    uint32_t size = get_be32(header + HDR_SIZE);
    uint32_t most = image_capacity(file_size);
    *capacity = size < MIN_CAPACITY ? MIN_CAPACITY : size > most ? most : size;
    if (e.in_file) {
        if (int32_t rc = check_overlaps(e, path, address, *capacity); rc != STATUS_OK)
            return rc;
        return plan_crc_bytes(found, path, address);
    }
    // A record file is patched wherever the CRC's two bytes lie: one that
    // holds them nowhere cannot take the CRC.
    if (!(options & OPT_CHECK) && !all_loaded(e, address, 2)) {
        std::printf("No record holds the CRC at link address %08lX, Aborting\n",
                    static_cast<unsigned long>(address));
        return ERR_CRC_NOT_IN_FILE;
    }
    return STATUS_OK;
}

int32_t load_module(RecordLoad *found, const char *path, uint8_t *image, uint32_t capacity,
                    uint32_t block)
{
    const Extents &e = found->extents;
    found->report.capacity = capacity;
    loaded_bytes = 0;
    FILE *f = nullptr;
    if (e.in_file) {
        if (int32_t rc = open_loader_input(path, capacity, block, &f); rc != STATUS_OK)
            return rc;
    } else {
        clear_summary_head();
        if (capacity < MIN_CAPACITY || capacity > block)
            return ERR_IMAGE_FIT;
    }
    int32_t status = STATUS_OK;
    // The file must be the one that was sized: its segments are read now.
    FileIdentity id;
    if (f && (!file_identity(f, &id) || !found->plan.valid || !same_identity(id, found->plan.file))) {
        std::printf("%s changed while it was read, Aborting\n", path);
        status = ERR_READ_SHORT;
    }
    uint64_t placed = 0;
    if (status == STATUS_OK &&
        !read_extents(e, f, found->modules[found->current], capacity, image, &placed)) {
        std::printf("Unable to read %s to its end, Aborting\n", path);
        status = ERR_READ_SHORT;
    }
    if (f)
        std::fclose(f);
    if (status != STATUS_OK)
        found->plan.valid = false;
    loaded_bytes = uint32_t(placed);
    fill_summary(image, block);
    return status;
}
