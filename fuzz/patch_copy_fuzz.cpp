// The CRC patch copy of a record file: load it as command 2 does, then copy
// it with the CRC patched in as command 4 does.
#include <vector>

#include "byte_order.h"
#include "fuzz_support.h"
#include "module/image_builder.h"
#include "records/patch_copy.h"
#include "records/record_loader.h"
#include "state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return -1;
    fuzz_enter_workdir();
    init_state();
    link_address = get_be32(data);
    uint16_t crc = get_be16(data + 4);
    data += 6;
    size -= 6;

    fuzz_write("in.abs", data, size);
    uint32_t capacity = image_capacity(size);
    uint32_t block = (capacity / 16 + 2) * 16;
    std::vector<uint8_t> img(block, 0xFF);
    (void)load_records("in.abs", img.data(), capacity, block);
    loaded_crc = crc;
    (void)copy_with_crc("in.abs", "in.new");
    init_state();
    return 0;
}
