// Modules found without -l in real linker output and the whole-flash files
// objcopy and srec_cat make of it: each gets the CRC a run given its
// address gives it, the result checks, one -l takes one module, and a gap
// of a gigabyte between two modules costs no memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.h"
#include "test_support.h"

namespace {

const std::string ELF = std::string(TARVEL_ELF_FIXTURES) + "/";

struct Row {
    const char *name;
    std::string make;   // shell command that writes modu.<ext> from the fixtures
    const char *type;   // -i
    bool whole;         // -w
    std::vector<const char *> links;  // the two modules' -l
};

class ModuleSearch : public ProgramTest {
protected:
    void SetUp() override
    {
        if (!have_tool("objcopy") || !have_tool("srec_cat"))
            GTEST_SKIP() << "binutils or srecord is not installed";
    }
    RunResult tool(const Row &row, std::vector<std::string> args)
    {
        args.insert(args.begin(), {"-m=modu", std::string("-i=") + row.type});
        if (row.whole)
            args.push_back("-w");
        return run_tarvel_bounded(dir.path(), args, 60);
    }
};

}  // namespace

TEST_F(ModuleSearch, EveryModuleFoundTakesTheCrcItsAddressGives)
{
    const std::string ARM = "objcopy -O srec " + ELF + "cortex_m.elf flash.abs && ";
    Row rows[] = {
        {"ARM ELF", "cp " + ELF + "cortex_m.elf modu.elf", "elf", false, {"8008000", "800C000"}},
        {"PowerPC ELF", "cp " + ELF + "powerpc.elf modu.elf", "elf", false, {"18000", "1C000"}},
        {"ELF64, one module above 4 GiB", "cp " + ELF + "x86_64.elf modu.elf", "elf", false,
         {"600000", "100000000"}},
        {"objcopy S-records", ARM + "cp flash.abs modu.abs", "abs", true, {"8008000", "800C000"}},
        {"objcopy Intel HEX", "objcopy -O ihex " + ELF + "cortex_m.elf modu.hex", "hex", true,
         {"8008000", "800C000"}},
        {"srec_cat S-records of 7 bytes", ARM + "srec_cat flash.abs -o modu.srec -obs=7", "srec",
         true, {"8008000", "800C000"}},
        {"srec_cat Intel HEX of 20 bytes", ARM + "srec_cat flash.abs -o modu.ihx -intel -obs=20",
         "ihx", true, {"8008000", "800C000"}},
        // RAM data at 28000000 and the second module 1 GiB above the first.
        {"a gigabyte between them", ARM + "srec_cat flash.abs -exclude 0x0800C000 0x0800C040 "
         "flash.abs -crop 0x0800C000 0x0800C040 -offset 0x40000000 -generate 0x28000000 "
         "0x28000100 -constant 0x55 -o modu.abs", "abs", true, {"8008000", "4800C000"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::string file = std::string("modu.") + row.type;
        lay_out(dir, {});
        ASSERT_EQ(shell(dir.path(), row.make), 0);
        const Bytes before = read_file(dir.file(file));
        // Each module alone, named by its -l: one summary line each.
        std::string alone;
        for (const char *link : row.links) {
            write_file(dir.file(file), before);
            RunResult one = tool(row, {std::string("-l=") + link});
            ASSERT_EQ(one.exit_code, 0) << one.out;
            EXPECT_EQ(lines_of(one.out).size(), 1u) << one.out;
            alone += one.out;
        }
        write_file(dir.file(file), before);
        RunResult found = tool(row, {});
        ASSERT_EQ(found.exit_code, 0) << found.out << found.err;
        EXPECT_EQ(found.out, alone);
        EXPECT_LT(found.max_rss_kb, 100 * 1024);
        EXPECT_EQ(tool(row, {"-k"}).exit_code, 0);
        EXPECT_EQ(tool(row, {"-l=" + std::string(row.links[0]), "-l=" + std::string(row.links[1]),
                             "-k"}).out,
                  found.out.substr(0, found.out.find('\n') + 1) + "Crc correct - da9a\n" +
                      found.out.substr(found.out.find('\n') + 1) + "Crc correct - 1f77\n");
    }
}

TEST_F(ModuleSearch, NoModuleOrOneFileOfSeveralFailsAndWritesNothing)
{
    ASSERT_EQ(shell(dir.path(), "objcopy -O srec --only-section=.text " + ELF +
                                    "cortex_m.elf none.abs && cp " + ELF + "cortex_m.elf two.elf"),
              0);
    Files before = files_in(dir.path());
    const std::string ERASED = " \xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF CRC 01A4 Size -1 Type ff Version FFFF\n";
    struct {
        std::vector<std::string> args;
        std::string out;
    } rows[] = {
        {{"-m=none", "-w"}, "\ttarvel none.abs No module found in none.abs, which loads "
                            "08000010-0800005F, Aborting\n" + ERASED +
                            "Error 8012, errno 0 in batchfile command 2\n"},
        {{"-m=two", "-i=elf", "-o=bin"}, "\ttarvel two.elf 2 modules in one run: -o, -t, -d, -s, -x "
                                         "and -u write one module, Aborting\n" + ERASED +
                                         "Error 8806, errno 0 in batchfile command 2\n"},
    };
    for (const auto &row : rows) {
        RunResult r = run(row.args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(files_in(dir.path()), before);
    }
}
