// The bytes a file loads, by address.
#include "records/extents.h"

#include <cstdlib>
#include <cstring>

#include "platform/file_copy.h"

namespace {

bool grow_list(Extents *e)
{
    if (e->count < e->capacity)
        return true;
    uint32_t capacity = e->capacity ? e->capacity * 2 : 64;
    auto *list = static_cast<Extent *>(std::realloc(e->list, sizeof(Extent) * capacity));
    if (!list)
        return false;
    e->list = list;
    e->capacity = capacity;
    return true;
}

bool grow_data(Extents *e, uint64_t more)
{
    if (e->data_used + more <= e->data_size)
        return true;
    uint64_t size = e->data_size ? e->data_size : 65536;
    while (size < e->data_used + more)
        size *= 2;
    auto *data = static_cast<uint8_t *>(std::realloc(e->data, size_t(size)));
    if (!data)
        return false;
    e->data = data;
    e->data_size = size;
    return true;
}

// The part of extent x that lies in [from, from + length), as its offset
// from the extent's start, its address and its length; false for none.
bool part_of(const Extent &x, uint64_t from, uint64_t length, uint64_t *skip, uint64_t *address,
             uint64_t *n)
{
    uint64_t end = from + length < from ? UINT64_MAX : from + length;
    uint64_t x_end = x.address + x.length < x.address ? UINT64_MAX : x.address + x.length;
    uint64_t first = x.address > from ? x.address : from;
    uint64_t last = x_end < end ? x_end : end;
    if (first >= last)
        return false;
    *skip = first - x.address;
    *address = first;
    *n = last - first;
    return true;
}

int compare_parts(const void *a, const void *b)
{
    uint64_t x = static_cast<const ExtentPart *>(a)->from, y = static_cast<const ExtentPart *>(b)->from;
    return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace

ExtentPart *extent_parts(const Extents &e, uint64_t from, uint64_t length, uint32_t *n)
{
    auto *parts = static_cast<ExtentPart *>(std::malloc(sizeof(ExtentPart) * (e.count + 1)));
    *n = 0;
    if (!parts)
        return nullptr;
    for (uint32_t i = 0; i < e.count; i++) {
        const Extent &x = e.list[i];
        uint64_t skip, address, k;
        if (length == 0)
            parts[(*n)++] = {x.address, x.address + x.length, x.index};
        else if (part_of(x, from, length, &skip, &address, &k))
            parts[(*n)++] = {address, address + k, x.index};
    }
    std::qsort(parts, *n, sizeof(ExtentPart), compare_parts);
    return parts;
}

bool add_bytes(Extents *e, uint64_t address, const uint8_t *bytes, uint64_t length)
{
    if (length == 0)
        return true;
    if (!grow_data(e, length))
        return false;
    Extent *last = e->count > 0 ? &e->list[e->count - 1] : nullptr;
    if (!last || last->address + last->length != address || last->at + last->length != e->data_used) {
        if (!grow_list(e))
            return false;
        e->list[e->count++] = {address, 0, e->data_used, 0};
        last = &e->list[e->count - 1];
    }
    std::memcpy(e->data + e->data_used, bytes, size_t(length));
    e->data_used += length;
    last->length += length;
    return true;
}

bool add_file_part(Extents *e, uint64_t address, uint64_t at, uint64_t length, uint32_t index)
{
    if (!grow_list(e))
        return false;
    e->in_file = true;
    e->list[e->count++] = {address, length, at, index};
    return true;
}

bool read_extents(const Extents &e, FILE *file, uint64_t from, uint64_t length, uint8_t *out,
                  uint64_t *placed)
{
    for (uint32_t i = 0; i < e.count; i++) {
        uint64_t skip, address, n;
        if (!part_of(e.list[i], from, length, &skip, &address, &n))
            continue;
        uint8_t *to = out + (address - from);
        if (!e.in_file)
            std::memcpy(to, e.data + e.list[i].at + skip, size_t(n));
        else if (seek_to(file, e.list[i].at + skip) != 0 || std::fread(to, 1, size_t(n), file) != n)
            return false;
        *placed += n;
    }
    return true;
}

bool all_loaded(const Extents &e, uint64_t from, uint64_t length)
{
    uint32_t n;
    ExtentPart *ranges = extent_parts(e, from, length, &n);
    uint64_t covered = from;
    for (uint32_t i = 0; ranges && i < n && ranges[i].from <= covered; i++)
        covered = ranges[i].to > covered ? ranges[i].to : covered;
    std::free(ranges);
    return covered >= from + length;
}

void describe_extents(const Extents &e, char *text, size_t size)
{
    constexpr int SHOWN = 8;
    uint32_t n;
    ExtentPart *ranges = extent_parts(e, 0, 0, &n);
    text[0] = 0;
    int shown = 0;
    for (uint32_t i = 0; ranges && i < n;) {
        ExtentPart merged = ranges[i];
        for (i++; i < n && ranges[i].from <= merged.to; i++)
            merged.to = ranges[i].to > merged.to ? ranges[i].to : merged.to;
        size_t used = std::strlen(text);
        if (shown++ == SHOWN) {
            std::snprintf(text + used, size - used, ", ...");
            break;
        }
        std::snprintf(text + used, size - used, "%s%08llX-%08llX", used ? ", " : "",
                      static_cast<unsigned long long>(merged.from),
                      static_cast<unsigned long long>(merged.to - 1));
    }
    std::free(ranges);
}

void release_extents(Extents *e)
{
    std::free(e->list);
    std::free(e->data);
    *e = Extents{};
}
