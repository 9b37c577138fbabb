// The CRC patch copy of a record file, S-records or Intel HEX as the first
// byte says: load it as command 2 does, then copy it with the CRC patched
// in as command 4 does. The copy runs both ways,
// with what the load found (part of the file as bytes) and record by record
// throughout; the two must write the same file and end with the same status.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "byte_order.h"
#include "fuzz_support.h"
#include "module/image_builder.h"
#include "records/patch_copy.h"
#include "records/record_loader.h"
#include "driver/run.h"
#include "state.h"

namespace {

int32_t load_and_copy(size_t size, RecordFormat format, uint16_t crc, bool with_plan)
{
    uint32_t capacity = image_capacity(size);
    uint32_t block = (capacity / 16 + 2) * 16;
    std::vector<uint8_t> img(block, 0xFF);
    auto load = format == RecordFormat::INTEL_HEX ? load_hex_records : load_records;
    RecordLoad found = {};
    if (load(&found, "in.abs", img.data(), capacity, block) != 0)
        return -1;
    if (!with_plan)
        found.plan.valid = false;
    found.crcs[0] = crc;
    return copy_with_crc("in.abs", "in.new", found);
}

std::vector<char> contents(const char *path)
{
    std::vector<char> bytes;
    if (FILE *f = std::fopen(path, "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;)
            bytes.push_back(char(c));
        std::fclose(f);
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 7)
        return -1;
    fuzz_enter_workdir();
    init_state();
    uint32_t link = get_be32(data);
    uint16_t crc = get_be16(data + 4);
    RecordFormat format = (data[6] & 1) ? RecordFormat::INTEL_HEX : RecordFormat::S_RECORDS;
    data += 7;
    size -= 7;

    fuzz_write("in.abs", data, size);
    link_address = link;
    int32_t planned = load_and_copy(size, format, crc, true);
    std::vector<char> planned_copy = contents("in.new");
    init_state();
    link_address = link;
    int32_t plain = load_and_copy(size, format, crc, false);
    if (plain != planned || contents("in.new") != planned_copy)
        std::abort();
    init_state();
    return 0;
}
