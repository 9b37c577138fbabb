// Info files: every line through the keyword table and set_option, with
// generic.tmp written in the private working directory.
#include "driver/info_file.h"
#include "fuzz_support.h"
#include "driver/run.h"
#include "state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_enter_workdir();
    fuzz_write("info.txt", data, size);
    init_state();
    (void)read_info_file("info.txt");
    init_state();
    return 0;
}
