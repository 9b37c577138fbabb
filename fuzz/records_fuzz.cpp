// Record files, S-records and Intel HEX: the decoders on a buffer exactly
// as long as the record, and the loaders on a whole file, with a link
// address taken from the input.
#include <cstring>
#include <vector>

#include "byte_order.h"
#include "fuzz_support.h"
#include "module/image_builder.h"
#include "records/intel_hex.h"
#include "records/module_search.h"
#include "records/record_loader.h"
#include "records/record_reader.h"
#include "driver/run.h"
#include "state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return -1;
    fuzz_enter_workdir();
    init_state();
    link_address = get_be32(data);
    data += 4;
    size -= 4;

    // The decoder alone, on a copy that ends where the bytes end.
    if (size > 0 && size <= size_t(RECORD_BUFFER_SIZE)) {
        std::vector<uint8_t> record(data, data + size);
        DecodeState state = {};
        (void)decode_record(&state, record.data(), int32_t(size));
        std::vector<uint8_t> line(data, data + size);
        DecodeState hex_state = {};
        (void)decode_hex_record(&hex_state, line.data(), int32_t(size));
    }

    fuzz_write("in.abs", data, size);
    uint32_t capacity = image_capacity(size);
    uint32_t block = (capacity / 16 + 2) * 16;
    std::vector<uint8_t> img(block, 0xFF);
    RecordLoad found = {};
    (void)load_records(&found, "in.abs", img.data(), capacity, block);
    std::vector<uint8_t> hex_img(block, 0xFF);
    (void)load_hex_records(&found, "in.abs", hex_img.data(), capacity, block);
    // Read whole, as -w reads it, and the modules found in it.
    for (RecordFormat format : {RecordFormat::S_RECORDS, RecordFormat::INTEL_HEX}) {
        if (load_record_extents(&found, "in.abs", format) != STATUS_OK)
            continue;
        uint64_t modules[MAX_MODULES];
        int count = 0;
        (void)find_modules(found.extents, nullptr, modules, MAX_MODULES, &count);
    }
    release_record_load(&found);
    init_state();
    return 0;
}
