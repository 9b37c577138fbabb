// A private working directory per fuzzing process.
#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

void fuzz_enter_workdir()
{
    static bool entered = false;
    if (!entered) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarvel-fuzz-XXXXXX").string();
        char *dir = mkdtemp(pattern.data());
        if (!dir || chdir(dir) != 0)
            std::abort();
        entered = true;
        return;
    }
    fuzz_clean_workdir();
}

void fuzz_clean_workdir()
{
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(".", ec))
        std::filesystem::remove_all(entry.path(), ec);
}

void fuzz_write(const char *name, const uint8_t *data, size_t n)
{
    FILE *f = std::fopen(name, "wb");
    if (!f)
        std::abort();
    if (n && std::fwrite(data, 1, n, f) != n)
        std::abort();
    if (std::fclose(f) != 0)
        std::abort();
}

// Files replaced under fuzzing need not reach the disk; the tool's own fsync
// calls resolve to this one in the fuzz targets and would otherwise bound
// them to a few hundred runs a second.
extern "C" int fsync(int) { return 0; }
