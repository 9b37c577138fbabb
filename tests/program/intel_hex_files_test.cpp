// Intel HEX files made by srec_cat and objcopy, below and above 64 KiB (so
// that extended segment (02) and linear (04) address records both appear),
// with LF and CR LF: setting the CRC in place changes the link record's four
// CRC characters and its checksum and nothing else, gives the CRC the same
// module gets as an S3 file, and srec_cat reads the file back without a
// complaint as the module with its CRC; the module written as Intel HEX reads
// back in srec_cat and objcopy as the module at the link address.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "builders.h"
#include "fixtures.h"
#include "module/module_format.h"
#include "test_support.h"

namespace {

std::string hex_number(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", v);
    return text;
}

struct Variant {
    std::string name;
    std::string make;  // shell command that writes modu.hex from module.bin
    uint32_t link;
};

class IntelHexFiles : public ProgramTest {
protected:
    void SetUp() override
    {
        module = test_module(3000);
        write_file(dir.file("module.bin"), module);
        with_crc = module;
        uint16_t crc = module_crc(reinterpret_cast<const uint8_t *>(module.data()),
                                  uint32_t(module.size()));
        with_crc[0] = char(crc >> 8);
        with_crc[1] = char(crc);
    }

    // srec_cat's reading of modu.hex as the binary at link; returns what it complained of.
    std::string read_back(uint32_t link, const char *into)
    {
        std::string command = "srec_cat modu.hex -intel -offset -0x" + hex_number(link) + " -o " +
                              into + " -binary 2> complaints";
        EXPECT_EQ(shell(dir.path(), command), 0) << file("complaints");
        return file("complaints");
    }

    void check(const Variant &v)
    {
        SCOPED_TRACE(v.name);
        std::remove(dir.file("modu.bak").c_str());
        ASSERT_EQ(shell(dir.path(), v.make), 0);
        const Bytes input = file("modu.hex");
        const std::string before = read_back(v.link, "before.bin");
        const std::string link = "-l=" + hex_number(v.link);

        // The same module as an S3 file gets the same CRC.
        ASSERT_EQ(shell(dir.path(), "srec_cat module.bin -binary -offset 0x" + hex_number(v.link) +
                                        " -o s3.abs -motorola -address-length=4"),
                  0);
        RunResult s3 = run({"-m=s3", link});
        ASSERT_EQ(s3.exit_code, 0) << s3.out;

        RunResult r = run({"-m=modu", "-i=hex", link});
        ASSERT_EQ(r.exit_code, 0) << r.out;
        EXPECT_EQ(r.out.substr(r.out.find(' ', 8)), s3.out.substr(s3.out.find(' ', 8)));
        EXPECT_EQ(file("modu.bak"), input);

        // Line for line the same, but for six characters of the link record.
        const Bytes output = file("modu.hex");
        std::vector<std::string> old_lines = lines_of(input), new_lines = lines_of(output);
        ASSERT_EQ(output.size(), input.size());
        ASSERT_EQ(new_lines.size(), old_lines.size());
        int patched = 0;
        for (size_t i = 0; i < old_lines.size(); i++) {
            if (old_lines[i] == new_lines[i])
                continue;
            patched++;
            const std::string &was = old_lines[i], &is = new_lines[i];
            size_t sum_at = was.size() - (was.back() == '\r' ? 3 : 2);
            EXPECT_EQ(is.substr(0, 9), was.substr(0, 9));
            EXPECT_EQ(is.substr(9, 4), hex_text(with_crc.substr(0, 2)));
            EXPECT_EQ(is.substr(13, sum_at - 13), was.substr(13, sum_at - 13));
            EXPECT_EQ(is.substr(sum_at + 2), was.substr(sum_at + 2));
        }
        EXPECT_EQ(patched, 1);
        EXPECT_EQ(read_back(v.link, "back.bin"), before);
        EXPECT_EQ(file("back.bin"), with_crc);

        // Written as Intel HEX, it reads back as the module in both tools.
        RunResult out = run({"-m=modu", "-i=hex", link, "-o=hex"});
        ASSERT_EQ(out.exit_code, 0) << out.out;
        EXPECT_EQ(read_back(v.link, "written.bin"), "");
        EXPECT_EQ(file("written.bin"), with_crc);
        ASSERT_EQ(shell(dir.path(), "objcopy -I ihex -O binary modu.hex objcopied.bin"), 0);
        EXPECT_EQ(file("objcopied.bin"), with_crc);
    }

    Bytes module;
    Bytes with_crc;
};

}  // namespace

TEST_F(IntelHexFiles, FromSrecCat)
{
    if (!have_tool("srec_cat") || !have_tool("objcopy"))
        GTEST_SKIP() << "srec_cat (package srecord) or objcopy (binutils) is not installed";
    std::vector<Variant> variants;
    for (uint32_t link : {0x8000u, 0x1FFF0u, 0x40000000u}) {
        std::string cat = "srec_cat module.bin -binary -offset 0x" + hex_number(link) +
                          " -o modu.hex -intel";
        std::string at = " at 0x" + hex_number(link);
        variants.push_back({"default" + at, cat, link});
        variants.push_back({"-address-length=4" + at, cat + " -address-length=4", link});
        for (int per_line : {16, 100, 255})
            variants.push_back({"-obs=" + std::to_string(per_line) + at,
                                cat + " -obs=" + std::to_string(per_line), link});
        variants.push_back({"CR LF" + at, cat + " -line-termination=crlf", link});
        // Extended segment addresses (02) reach 1 MiB only.
        if (link < 0x100000)
            variants.push_back({"-address-length=3" + at, cat + " -address-length=3", link});
    }
    for (const Variant &v : variants)
        check(v);
}

TEST_F(IntelHexFiles, FromObjcopy)
{
    if (!have_tool("srec_cat") || !have_tool("objcopy"))
        GTEST_SKIP() << "srec_cat (package srecord) or objcopy (binutils) is not installed";
    std::vector<Variant> variants;
    for (uint32_t link : {0x8000u, 0x1FFF0u}) {
        std::string at = " at 0x" + hex_number(link);
        std::string from_binary = "objcopy -I binary -O ihex --change-addresses 0x" +
                                  hex_number(link) + " module.bin modu.hex";
        // objcopy ends its lines with CR LF; the LF variant drops the CRs.
        variants.push_back({"-I binary, CR LF" + at, from_binary, link});
        variants.push_back({"-I binary, LF" + at, from_binary + " && sed -i 's/\\r$//' modu.hex", link});
        variants.push_back({"-I srec" + at,
                            "srec_cat module.bin -binary -offset 0x" + hex_number(link) +
                                " -o module.abs -motorola -address-length=4 && "
                                "objcopy -I srec -O ihex module.abs modu.hex",
                            link});
    }
    for (const Variant &v : variants)
        check(v);
}

// After an Intel HEX input the other outputs come out as after the same
// module in an S-record file, and -o=hex writes only the Intel HEX file.
TEST_F(IntelHexFiles, OtherOutputsAsFromAnSRecordFile)
{
    write_file(dir.file("modu.hex"), ihex_file(module, 0x8000, 32, "\r\n"));
    write_file(dir.file("same.abs"), s_file(module, 0x8000, '3', 32));
    RunResult hex = run({"-m=modu", "-i=hex", "-l=8000", "-t=64", "-o=bin", "-d", "-v"});
    RunResult abs = run({"-m=same", "-l=8000", "-t=64", "-o=bin", "-d", "-v"});
    ASSERT_EQ(hex.exit_code, 0) << hex.out;
    ASSERT_EQ(abs.exit_code, 0) << abs.out;
    std::string expected = abs.out;
    for (size_t at; (at = expected.find("same.abs")) != std::string::npos;)
        expected.replace(at, 8, "modu.hex");
    for (size_t at; (at = expected.find("same.")) != std::string::npos;)
        expected.replace(at, 5, "modu.");
    // The summary of the load is of the same module; the file sizes differ.
    EXPECT_EQ(hex.out.substr(hex.out.find(" TESTMODU")), expected.substr(expected.find(" TESTMODU")));
    for (const char *ext : {".bin", ".thd"})
        EXPECT_EQ(file(std::string("modu") + ext), file(std::string("same") + ext)) << ext;

    // A module file to Intel HEX: no thx output besides.
    write_file(dir.file("plain.bin"), module);
    RunResult r = run({"-m=plain", "-i=bin", "-o=hex", "-l=8000", "-v"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("Output plain.hex\n"), std::string::npos) << r.out;
    EXPECT_EQ(file("plain.hex"), ihex_file(with_crc, 0x8000, 32));
    EXPECT_FALSE(file_exists(dir.file("plain.thx")));

    // -o=hex and then -o=thx: both, each under its own name. (The thx
    // records go to the name of the last -o, as beside -o=bin: after -o=thx
    // -o=hex the Intel HEX file then takes that name over.)
    RunResult both = run({"-m=plain", "-i=bin", "-o=hex", "-o=thx", "-l=8000"});
    ASSERT_EQ(both.exit_code, 0) << both.out;
    EXPECT_EQ(file("plain.thx").substr(0, 2), "T0");
    EXPECT_EQ(file("plain.hex"), ihex_file(with_crc, 0x8000, 32));
}

TEST_F(IntelHexFiles, TheUpgradeAfterAnIntelHexInput)
{
    write_file(dir.file("old.hex"), ihex_file(old_module, 0x10000, 16));
    RunResult r = run({"-m=old", "-i=hex", "-l=10000", "-u", "-o=bin"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(file("old.bin"), upgraded_module);
}
