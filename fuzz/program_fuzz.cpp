// The whole program: the input is an argument list, a NUL byte, and the
// content of the input files. Arguments are separated by line feeds; any
// argument with a path separator is refused so that every file stays in
// the private working directory.
#include <cstring>
#include <string>
#include <vector>

#include "driver/run.h"
#include "fuzz_support.h"
#include "state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t *nul = static_cast<const uint8_t *>(std::memchr(data, 0, size));
    if (!nul)
        return -1;
    std::string arg_text(reinterpret_cast<const char *>(data), size_t(nul - data));
    if (arg_text.find_first_of("/\\") != std::string::npos)
        return -1;
    std::vector<std::string> args;
    size_t start = 0;
    while (start <= arg_text.size() && args.size() < 16) {
        size_t end = arg_text.find('\n', start);
        if (end == std::string::npos)
            end = arg_text.size();
        args.push_back(arg_text.substr(start, end - start));
        start = end + 1;
    }

    fuzz_enter_workdir();
    const uint8_t *content = nul + 1;
    size_t length = size - size_t(content - data);
    for (const char *name : {"modu.abs", "modu.thx", "modu.bin", "modu.raw", "modu.hex", "info.txt"})
        fuzz_write(name, content, length);

    std::vector<const char *> argv{"tarvel"};
    for (const auto &a : args)
        argv.push_back(a.c_str());
    init_state();
    run_tool(int(argv.size()), argv.data());
    init_state();
    return 0;
}
