// The CRC set where firmware builds make it: in the linker's ELF file, and
// in whole-flash S-record and Intel HEX files (-w). The fixtures are real
// linker output for a little-endian ELF32, a big-endian ELF32 and an ELF64;
// the whole-flash files are made by objcopy and srec_cat.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "builders.h"
#include "fixtures.h"
#include "test_support.h"

namespace {

struct Fixture {
    const char *file;
    const char *link;  // -l of its module
};

const Fixture FIXTURES[] = {
    {"cortex_m.elf", "8008000"},
    {"powerpc.elf", "18000"},
    {"x86_64.elf", "600000"},
};

class ElfFiles : public ProgramTest {
protected:
    void SetUp() override
    {
        if (!have_tool("objcopy") || !have_tool("readelf"))
            GTEST_SKIP() << "binutils is not installed";
    }
    int sh(const std::string &command) { return shell(dir.path(), command); }
};

// The lines of two texts that differ, as pairs.
std::vector<std::pair<std::string, std::string>> changed_lines(const Bytes &a, const Bytes &b)
{
    std::vector<std::string> x = lines_of(a), y = lines_of(b);
    std::vector<std::pair<std::string, std::string>> changed;
    for (size_t i = 0; i < x.size() && i < y.size(); i++)
        if (x[i] != y[i])
            changed.push_back({x[i], y[i]});
    EXPECT_EQ(x.size(), y.size());
    return changed;
}

}  // namespace

TEST_F(ElfFiles, TheCrcIsSetInTheElfFileAsInItsSRecords)
{
    for (const Fixture &f : FIXTURES) {
        SCOPED_TRACE(f.file);
        std::filesystem::remove_all(dir.file("new"));
        lay_out(dir, {{"modu.elf", read_file(std::string(TARVEL_ELF_FIXTURES) + "/" + f.file)}});
        // The whole image as S-records, made from the ELF file before.
        ASSERT_EQ(sh("cp modu.elf old.elf && objcopy -O srec old.elf modu.abs && "
                     "readelf -a modu.elf > before.txt"), 0);
        std::string link = std::string("-l=") + f.link;
        RunResult elf = run({"-m=modu", "-i=elf", link});
        ASSERT_EQ(elf.exit_code, 0) << elf.out;
        RunResult whole = run({"-m=modu", link, "-w"});
        ASSERT_EQ(whole.exit_code, 0) << whole.out;
        EXPECT_EQ(elf.out.substr(elf.out.find(' ', 9)), whole.out.substr(whole.out.find(' ', 9)));

        // objcopy of the patched ELF file gives the patched S-record file;
        // the ELF file differs in exactly two bytes and reads the same.
        // (objcopy names its output in the S0 record: the same name here.)
        ASSERT_EQ(sh("mkdir -p new && cd new && objcopy -O srec ../modu.elf modu.abs && cd .. && "
                     "readelf -a modu.elf > after.txt && cmp -l old.elf modu.elf > cmp.txt; "
                     "test $? -le 1"), 0);
        EXPECT_EQ(file("new/modu.abs"), file("modu.abs"));
        EXPECT_EQ(lines_of(file("cmp.txt")).size(), 2u) << file("cmp.txt");
        EXPECT_EQ(file("after.txt"), file("before.txt"));
        EXPECT_EQ(run({"-m=modu", "-i=elf", link, "-k"}).exit_code, 0);
    }
}

TEST_F(ElfFiles, DamagedOrUnfitFilesChangeNothing)
{
    Bytes elf = read_file(std::string(TARVEL_ELF_FIXTURES) + "/cortex_m.elf");
    Bytes cut = elf.substr(0, 40);
    Bytes table_beyond = elf, segment_beyond = elf;
    table_beyond[31] = '\xF0';  // e_phoff far past the end
    segment_beyond[0x34 + 32 + 19] = '\x7F';  // p_filesz of the second segment
    // ELF64: a p_offset whose sum with p_filesz wraps around 2^64.
    Bytes wraps = read_file(std::string(TARVEL_ELF_FIXTURES) + "/x86_64.elf");
    for (int i = 0; i < 8; i++)
        wraps[64 + 56 + 8 + i] = '\xFF';
    struct Row {
        Bytes content;
        const char *link;
        std::string message;
        const char *error;
    } rows[] = {
        {"not an ELF file", "-l=8008000", "modu.elf is no ELF file, Aborting\n", "800f"},
        {cut, "-l=8008000", "ELF file modu.elf is damaged: its header is cut short, Aborting\n", "800f"},
        {table_beyond, "-l=8008000",
         "ELF file modu.elf is damaged: its program headers lie beyond its end, Aborting\n", "800f"},
        {segment_beyond, "-l=8008000",
         "ELF file modu.elf is damaged: a segment lies beyond its end, Aborting\n", "800f"},
        {wraps, "-l=600000", "ELF file modu.elf is damaged: a segment lies beyond its end, Aborting\n",
         "800f"},
        // Only the zero-filled memory part of the RAM segment lies there.
        {elf, "-l=8008134",
         "No segment of modu.elf holds the CRC at link address 08008134, Aborting\n", "8011"},
    };
    for (const Row &row : rows) {
        lay_out(dir, {{"modu.elf", row.content}, {"modu.bak", "old"}});
        RunResult r = run({"-m=modu", "-i=elf", row.link});
        EXPECT_EQ(r.exit_code, 1) << row.message;
        EXPECT_NE(r.out.find(row.message), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(std::string("Error ") + row.error + ", errno 0 in batchfile command 2"),
                  std::string::npos) << r.out;
        EXPECT_EQ(file("modu.elf"), row.content);
        EXPECT_EQ(file("modu.bak"), "old");
    }
}

TEST_F(ElfFiles, WholeFlashFilesTakeTheCrcWhereverItLies)
{
    if (!have_tool("srec_cat"))
        GTEST_SKIP() << "srecord is not installed";
    // Flash from 08000000: 48 bytes of a boot loader, the module at
    // 08000030, 20 bytes behind it. Records of 16 bytes put the CRC at a
    // record's start, of 20 in the middle of one, of 7 across two.
    Bytes module = test_module(200);
    lay_out(dir, {{"module.bin", module}});
    ASSERT_EQ(run({"-m=module", "-i=bin", "-o=bin"}).exit_code, 0);
    Bytes crc = file("module.bin").substr(0, 2);
    Bytes flash = Bytes(48, 'B') + module + Bytes(20, 'A');
    struct Variant {
        std::string make;
        int touched;
    } variants[] = {
        {"srec_cat flash.bin -binary -offset 0x08000000 -o modu.abs -motorola -obs=16", 1},
        {"srec_cat flash.bin -binary -offset 0x08000000 -o modu.abs -motorola -obs=20", 1},
        {"srec_cat flash.bin -binary -offset 0x08000000 -o modu.abs -motorola -obs=7", 2},
        {"srec_cat flash.bin -binary -offset 0x08000000 -o modu.hex -intel -obs=7", 2},
        {"objcopy -I binary -O srec --change-addresses 0x08000000 flash.bin modu.abs", 1},
        {"objcopy -I binary -O ihex --change-addresses 0x08000000 flash.bin modu.hex", 1},
    };
    for (const Variant &v : variants) {
        SCOPED_TRACE(v.make);
        lay_out(dir, {{"flash.bin", flash}});
        ASSERT_EQ(sh(v.make), 0);
        const char *type = file_exists(dir.file("modu.hex")) ? "-i=hex" : "-i=abs";
        std::string name = type[3] == 'h' ? "modu.hex" : "modu.abs";
        Bytes before = file(name);
        RunResult r = run({"-m=modu", type, "-l=8000030", "-w"});
        ASSERT_EQ(r.exit_code, 0) << r.out;
        auto changed = changed_lines(before, file(name));
        EXPECT_EQ(int(changed.size()), v.touched);
        // Read back, the flash holds the module with its CRC, nothing else changed.
        std::string to_bin = type[3] == 'h' ? "srec_cat modu.hex -intel" : "srec_cat modu.abs -motorola";
        ASSERT_EQ(sh(to_bin + " -offset -0x08000000 -o back.bin -binary"), 0);
        EXPECT_EQ(file("back.bin"), Bytes(48, 'B') + crc + module.substr(2) + Bytes(20, 'A'));
        EXPECT_EQ(run({"-m=modu", type, "-l=8000030", "-w", "-k"}).exit_code, 0);
    }
}
