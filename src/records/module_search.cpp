// Finding the modules a file loads.
#include "records/module_search.h"

#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "module_layout.h"
#include "platform/file_copy.h"

namespace {

// Bytes of an extent in the file looked at a time.
constexpr uint64_t PIECE = uint64_t(1) << 20;

// The magic's first byte, and the header mark and magic behind the CRC.
constexpr uint8_t MAGIC_FIRST = 0x87;
constexpr uint8_t MARK_AND_MAGIC[6] = {0x7F, 0xFF, 0x87, 0xCD, 0xF0, 0x0F};

struct Search {
    const Extents *e;
    FILE *file;
    uint64_t *addresses;
    int max;
    int count;
    uint64_t next;  // where the next module may begin: behind the last one found
    bool failed;
};

// Whether a module begins at address h, by its header and trailer.
bool module_at(Search *s, uint64_t h)
{
    uint8_t header[HEADER_SIZE];
    std::memset(header, 0xFF, sizeof header);
    uint64_t placed = 0;
    if (!read_extents(*s->e, s->file, h, HEADER_SIZE, header, &placed))
        s->failed = true;
    uint16_t mark = get_be16(header + HDR_MARK);
    uint32_t size = get_be32(header + HDR_SIZE);
    // A size that reaches past the top of the address space is no module's.
    if ((mark != 0x7FFF && mark != MARK_OTHER_KIND) || get_be32(header + HDR_MAGIC) != MODULE_MAGIC ||
        (size & 3) || size < MIN_MODULE_SIZE || size > UINT64_MAX - h ||
        !all_loaded(*s->e, h, HEADER_SIZE) || !all_loaded(*s->e, h + size - TRAILER_SIZE, TRAILER_SIZE))
        return false;
    uint8_t trailer[TRAILER_SIZE];
    placed = 0;
    if (!read_extents(*s->e, s->file, h + size - TRAILER_SIZE, TRAILER_SIZE, trailer, &placed))
        s->failed = true;
    if (std::memcmp(trailer, module_trailer, TRAILER_SIZE) != 0)
        return false;
    if (s->count < s->max)
        s->addresses[s->count] = h;
    s->count++;
    s->next = h + size;
    return true;
}

// Looks at the n bytes of p, which load at address, for the magic at
// 4-byte aligned addresses 4 bytes behind a header's start.
void search_bytes(Search *s, const uint8_t *p, uint64_t n, uint64_t address)
{
    for (uint64_t i = 0; i < n && !s->failed;) {
        const auto *hit = static_cast<const uint8_t *>(std::memchr(p + i, MAGIC_FIRST, size_t(n - i)));
        if (!hit)
            return;
        i = uint64_t(hit - p);
        uint64_t magic_at = address + i;
        bool aligned = (magic_at & 3) == 0 && magic_at >= HDR_MAGIC;
        // Cheap first: the rest of the magic, where it lies in these bytes.
        bool plausible = i + 4 > n || std::memcmp(p + i, MARK_AND_MAGIC + 2, 4) == 0;
        uint64_t h = magic_at - HDR_MAGIC;
        if (aligned && plausible && h >= s->next)
            module_at(s, h);
        i++;
    }
}

int compare_by_address(const void *a, const void *b)
{
    uint64_t x = static_cast<const Extent *>(a)->address, y = static_cast<const Extent *>(b)->address;
    return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace

bool find_modules(const Extents &e, FILE *file, uint64_t *addresses, int max, int *count)
{
    // The extents in address order, and a piece of the file at a time.
    auto *sorted = static_cast<Extent *>(std::malloc(sizeof(Extent) * (e.count + 1)));
    auto *piece = e.in_file ? static_cast<uint8_t *>(std::malloc(PIECE)) : nullptr;
    if (!sorted || (e.in_file && !piece)) {
        std::free(sorted);
        std::free(piece);
        return false;
    }
    if (e.count > 0)
        std::memcpy(sorted, e.list, sizeof(Extent) * e.count);
    std::qsort(sorted, e.count, sizeof(Extent), compare_by_address);
    Search s = {&e, file, addresses, max, 0, 0, false};
    for (uint32_t i = 0; i < e.count && !s.failed; i++) {
        const Extent &x = sorted[i];
        for (uint64_t done = 0; done < x.length && !s.failed;) {
            // No module begins inside the last one found: its bytes are
            // not read twice.
            if (s.next > x.address + done) {
                done = s.next - x.address;
                continue;
            }
            uint64_t n = x.length - done < PIECE ? x.length - done : PIECE;
            const uint8_t *p = e.data ? e.data + x.at + done : nullptr;
            if (e.in_file) {
                if (seek_to(file, x.at + done) != 0 || std::fread(piece, 1, size_t(n), file) != n)
                    s.failed = true;
                p = piece;
            }
            if (!s.failed)
                search_bytes(&s, p, n, x.address + done);
            done += n;
        }
    }
    std::free(sorted);
    std::free(piece);
    *count = s.count;
    return !s.failed;
}
