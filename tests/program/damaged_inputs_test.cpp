// Inputs that do not load whole fail without changing a file, and inputs
// built to make the loader work without end are refused or loaded in the
// time and memory their module takes: the harness bounds each run's
// processor time and reads its peak memory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "builders.h"
#include "fixtures.h"
#include "test_support.h"

namespace {

const Bytes SAMPLE = read_file(std::string(TARVEL_EXAMPLES) + "/modu.bin");
const Bytes CORTEX = read_file(std::string(TARVEL_ELF_FIXTURES) + "/cortex_m.elf");

// text with line n (from 0) passed through change.
template <class Change> std::string at_line(std::string text, size_t n, Change change)
{
    size_t from = 0;
    for (size_t i = 0; i < n; i++)
        from = text.find('\n', from) + 1;
    size_t to = text.find('\n', from);
    std::string line = text.substr(from, to - from);
    change(line);
    return text.replace(from, to - from, line);
}

// Line n and the next glued into one: a lone CR for the line feed between.
std::string glued(std::string text, size_t n)
{
    size_t at = 0;
    for (size_t i = 0; i <= n; i++)
        at = text.find('\n', at) + 1;
    text[at - 1] = '\r';
    return text;
}

void put32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = char(v >> (8 * i));
}

// A little-endian ELF32 file: its header, a PT_LOAD program header for each
// {offset, address, size}, then body.
Bytes elf32(const std::vector<std::array<uint32_t, 3>> &loads, const Bytes &body)
{
    Bytes f = CORTEX.substr(0, 52);
    put32(f, 32, 0);  // no section headers
    f[44] = char(loads.size());
    f[45] = char(loads.size() >> 8);
    f[48] = f[49] = 0;
    for (const auto &[offset, address, size] : loads) {
        Bytes p(32, '\0');
        put32(p, 0, 1);
        put32(p, 4, offset);
        put32(p, 8, address);
        put32(p, 12, address);
        put32(p, 16, size);
        put32(p, 20, size);
        f += p;
    }
    return f + body;
}

struct Row {
    const char *name;
    const char *ext;
    Bytes content;
    std::string link;
    std::string out;  // standard output after the "\ttarvel modu.<ext> " it begins with
    const char *error;  // the status of the failure, or null for a run that sets the CRC
};

}  // namespace

class DamagedInputs : public ProgramTest {};

TEST_F(DamagedInputs, LoadWholeOrFailChangingNothing)
{
    const std::string hex = ihex_file(SAMPLE, 0x8000, 32), abs = s_file(SAMPLE, 0x8000, '1', 32);
    const std::string PARTIAL = " EXAMPLE1 CRC 7F0B Size 256 Type 00 Version 0102\n";
    const std::string LINE_3 = "Record checksum error in line 3, Aborting\n";
    const std::string ELF_SUMMARY = " DATADATA CRC DA9A Size 256 Type 00 Version 0102\n";
    // Two segments over the module: the RAM data's load address moved into it.
    Bytes overlap = CORTEX;
    put32(overlap, 52 + 2 * 32 + 12, 0x08008010);
    // The module's first two bytes, which take the CRC, end the file.
    Bytes m = test_module(256);
    Bytes crc_last = elf32({{116, 0x08008002, 254}, {370, 0x08008000, 2}}, m.substr(2) + m.substr(0, 2));
    // 65534 segments, each the whole file loaded over the module.
    std::vector<std::array<uint32_t, 3>> many(65534, {0, 0x08008000, 52 + 65534 * 32});
    // The ELF64 fixture's module segment loaded above 4 GiB.
    Bytes high = read_file(std::string(TARVEL_ELF_FIXTURES) + "/x86_64.elf");
    high[64 + 56 + 24 + 4] = 1;
    Row rows[] = {
        {"hex bad character", "hex", at_line(hex, 2, [](std::string &l) { l[20] = 'G'; }), "8000",
         LINE_3 + PARTIAL, "800e"},
        {"hex one too many", "hex", at_line(hex, 2, [](std::string &l) { l.insert(20, "0"); }),
         "8000", LINE_3 + PARTIAL, "800e"},
        {"hex one too few", "hex", at_line(hex, 2, [](std::string &l) { l.erase(20, 1); }), "8000",
         LINE_3 + PARTIAL, "800e"},
        {"hex cut before its checksum", "hex", at_line(hex, 2, [](std::string &l) { l = ":0A000000"; }),
         "8000", LINE_3 + PARTIAL, "800e"},
        {"hex lone CR", "hex", glued(hex, 2), "8000", LINE_3 + PARTIAL, "800e"},
        {"abs lone CR", "abs", glued(abs, 2), "8000", LINE_3 + PARTIAL, "800e"},
        {"overlapping segments", "elf", overlap, "8008000",
         "ELF file modu.elf is damaged: segments 1 and 2 both load 08008010-08008013, Aborting\n"
         " \xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF CRC 01A4 Size -1 Type ff Version FFFF\n", "800f"},
        {"cut before its section headers", "elf", CORTEX.substr(0, 0x52C), "8008000",
         "ELF file modu.elf is damaged: its section headers lie beyond its end, Aborting\n"
         " \xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF CRC 01A4 Size -1 Type ff Version FFFF\n", "800f"},
        {"65534 segments over the module", "elf", elf32(many, ""), "8008000",
         "ELF file modu.elf is damaged: segments 0 and 1 both load 08008000-08008043, Aborting\n"
         " \xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF CRC 01A4 Size -1 Type ff Version FFFF\n", "800f"},
        {"CRC in the last byte", "elf", crc_last, "8008000",
         " TESTMODU CRC 91AC Size 256 Type 00 Version 0003\n", nullptr},
        {"text beginning with T among S-records", "abs",
         at_line(abs, 2, [](std::string &l) { l = "Text in the middle\n" + l; }), "8000",
         " EXAMPLE1 CRC ADAA Size 256 Type 00 Version 0102\n", nullptr},
        {"ELF64 module above 4 GiB", "elf", high, "100600000", ELF_SUMMARY, nullptr},
        {"FIFO", "abs", "", "8000", "", "1"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::string input = std::string("modu.") + row.ext;
        lay_out(dir, {{input, row.content}, {"modu.bak", "old"}});
        if (std::string(row.name) == "FIFO") {
            std::filesystem::remove(dir.file(input));
            ASSERT_EQ(mkfifo(dir.file(input).c_str(), 0600), 0);
        }
        Files before = files_in(dir.path());
        RunResult r = run_tarvel_bounded(dir.path(), {"-m=modu", "-i=" + std::string(row.ext),
                                                      "-l=" + row.link}, 60);
        EXPECT_LT(r.max_rss_kb, 200 * 1024);
        if (!row.error) {
            EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
            EXPECT_EQ(r.out, "\ttarvel " + input + " " + row.out);
            EXPECT_EQ(run({"-m=modu", "-i=" + std::string(row.ext), "-l=" + row.link, "-k"}).exit_code, 0);
            continue;
        }
        std::string command = std::string(row.error) == "1" ? "1" : "2";
        std::string failed = std::string("Error ") + row.error + ", errno 0 in batchfile command " + command + "\n";
        EXPECT_EQ(r.exit_code, 1);
        if (command == "1")
            EXPECT_EQ(r.out, "Input file " + input + " is no regular file, Aborting\n" + failed);
        else
            EXPECT_EQ(r.out, "\ttarvel " + input + " " + row.out + failed);
        EXPECT_EQ(files_in(dir.path()), before);
    }
}

// A 4 GiB file of which the module's segments are the first 2 KiB: memory
// and time follow the module; the copy keeps the file's hole a hole.
TEST_F(DamagedInputs, ASparseElfTakesTheTimeAndMemoryOfItsModule)
{
    write_file(dir.file("modu.elf"), CORTEX);
    std::filesystem::resize_file(dir.file("modu.elf"), uint64_t(4) << 30);
    RunResult r = run_tarvel_bounded(dir.path(), {"-m=modu", "-i=elf", "-l=8008000"}, 60);
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_LT(r.max_rss_kb, 200 * 1024);
    struct stat st;
    ASSERT_EQ(stat(dir.file("modu.elf").c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), uint64_t(4) << 30);
    EXPECT_LT(uint64_t(st.st_blocks) * 512, uint64_t(1) << 20);
    EXPECT_EQ(run_tarvel_bounded(dir.path(), {"-m=modu", "-i=elf", "-l=8008000", "-k"}, 60).exit_code, 0);
}
