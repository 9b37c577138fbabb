// ELF files: the loader on a whole file, with a link address taken from the
// input, then the in-place copy of what it found.
#include <cstdio>
#include <cstring>
#include <vector>

#include "byte_order.h"
#include "fuzz_support.h"
#include "module/image_builder.h"
#include "options.h"
#include "records/elf_file.h"
#include "records/module_load.h"
#include "records/module_search.h"
#include "records/patch_copy.h"
#include "records/record_loader.h"
#include "driver/run.h"
#include "state.h"
#include "status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return -1;
    fuzz_enter_workdir();
    init_state();
    options = OPT_IN_ELF;
    link_address = get_be32(data);
    link_address_wide = link_address;
    data += 4;
    size -= 4;

    fuzz_write("in.elf", data, size);
    // The ELF file's segments, then the module at the link address.
    RecordLoad load = {};
    uint32_t capacity = 0;
    bool loaded = load_elf_file(&load, "in.elf") == STATUS_OK;
    // Every module it holds, as a run without -l looks for them.
    if (loaded) {
        FILE *f = std::fopen("in.elf", "rb");
        int count = 0;
        if (f && find_modules(load.extents, f, load.modules, MAX_MODULES, &count))
            load.module_count = count < MAX_MODULES ? count : MAX_MODULES;
        if (f)
            std::fclose(f);
    }
    load.module_count = 1;
    load.modules[0] = link_address;
    if (loaded && size_module(&load, "in.elf", size, &capacity) == STATUS_OK) {
        uint32_t block = (capacity / 16 + 2) * 16;
        std::vector<uint8_t> img(block, 0xFF);
        if (load_module(&load, "in.elf", img.data(), capacity, block) == STATUS_OK) {
            load.crcs[0] = 0x1234;
            (void)copy_with_crc("in.elf", "in.new", load);
        }
    }
    release_record_load(&load);
    init_state();
    return 0;
}
