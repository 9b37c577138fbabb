// Module images: the check (with and without the upgrade), the CRC, the
// summary and the outputs, on an image block exactly as long as the input
// rounded up as the image builder rounds it.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "module/module_format.h"
#include "options.h"
#include "module/thd_bin.h"
#include "records/thx_writer.h"
#include "driver/run.h"
#include "state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 65536)
        return -1;
    fuzz_enter_workdir();
    uint32_t block = uint32_t((size - 1) / 16 + 2) * 16;
    std::vector<uint8_t> img(block, 0xFF);
    std::memcpy(img.data(), data + 1, size - 1);

    init_state();
    options = (data[0] & 1) ? OPT_UPGRADE : 0;
    record_size = data[0] >> 1;
    (void)module_crc(img.data(), block);
    fill_summary(img.data(), block);
    if (check_module(img.data(), block) == 0) {
        uint8_t thd[THD_RECORD_SIZE];
        make_thd(thd, img.data(), block);
        (void)write_thd_file("m.thx", img.data(), block);
        (void)write_bin_file("m.thx", img.data(), block);
        (void)write_thx_file("m.thx", img.data(), block);
    }
    init_state();
    return 0;
}
