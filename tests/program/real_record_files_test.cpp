// The main job on S-record files made by srec_cat and objcopy, checked
// with srec_cat: the patched file must read without a checksum complaint and
// give exactly the module with its CRC set.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "builders.h"
#include "byte_order.h"
#include "fixtures.h"
#include "module/module_format.h"
#include "state.h"
#include "test_support.h"

namespace {

struct Variant {
    std::string name;
    std::string make;  // shell command that writes modu.abs from module.bin
    uint32_t link;
    bool strip_cr;     // turn objcopy's CR LF into LF
};

class RealFiles : public StateTest {
protected:
    void SetUp() override
    {
        StateTest::SetUp();
        module = test_module(3000);
        write_file(dir.file("module.bin"), module);
        with_crc = module;
        uint16_t crc = module_crc(reinterpret_cast<const uint8_t *>(module.data()), uint32_t(module.size()));
        with_crc[0] = char(crc >> 8);
        with_crc[1] = char(crc);
    }

    void check(const Variant &v)
    {
        SCOPED_TRACE(v.name);
        std::remove(dir.file("modu.bak").c_str());
        ASSERT_EQ(shell(dir.path(), v.make), 0);
        Bytes input = read_file(dir.file("modu.abs"));
        if (v.strip_cr) {
            std::string lf;
            for (char c : input)
                if (c != '\r')
                    lf.push_back(c);
            input = lf;
            write_file(dir.file("modu.abs"), input);
        }

        // What srec_cat says of the file as made (a file without an end
        // record gets a warning); it must say no more of the patched file.
        char offset[32];
        std::snprintf(offset, sizeof offset, "-0x%X", v.link);
        std::string read_back = std::string("srec_cat modu.abs -motorola -offset ") + offset +
                                " -o back.bin -binary 2> complaints";
        ASSERT_EQ(shell(dir.path(), read_back), 0) << read_file(dir.file("complaints"));
        Bytes complaints = read_file(dir.file("complaints"));
        EXPECT_EQ(complaints.find("checksum"), std::string::npos) << complaints;

        char link[16];
        std::snprintf(link, sizeof link, "%X", v.link);
        RunResult r = run_tarvel(dir.path(), {"-m=modu", std::string("-l=") + link});
        ASSERT_EQ(r.exit_code, 0) << r.out;
        Bytes output = read_file(dir.file("modu.abs"));
        EXPECT_EQ(read_file(dir.file("modu.bak")), input);

        // Line for line the same, but for six characters of the link record.
        std::vector<std::string> before = lines_of(input), after = lines_of(output);
        ASSERT_EQ(output.size(), input.size());
        ASSERT_EQ(after.size(), before.size());
        int patched = 0;
        for (size_t i = 0; i < before.size(); i++) {
            if (before[i] == after[i])
                continue;
            patched++;
            const std::string &line = before[i];
            ASSERT_EQ(after[i].size(), line.size());
            int t = line[1] - '0';
            size_t crc_at = size_t(2 * t + 6);
            size_t sum_at = line.size() - (line.back() == '\r' ? 3 : 2);
            EXPECT_EQ(line.substr(0, crc_at), after[i].substr(0, crc_at));
            EXPECT_EQ(after[i].substr(crc_at, 4), std::string(hex_text(with_crc.substr(0, 2))));
            EXPECT_EQ(line.substr(crc_at + 4, sum_at - crc_at - 4),
                      after[i].substr(crc_at + 4, sum_at - crc_at - 4));
            EXPECT_EQ(line.substr(sum_at + 2), after[i].substr(sum_at + 2));
        }
        EXPECT_EQ(patched, 1);

        // srec_cat reads it back without complaint, as the module with its CRC.
        ASSERT_EQ(shell(dir.path(), read_back), 0) << read_file(dir.file("complaints"));
        EXPECT_EQ(read_file(dir.file("complaints")), complaints);
        EXPECT_EQ(read_file(dir.file("back.bin")), with_crc);
    }

    Bytes module;
    Bytes with_crc;
};

}  // namespace

TEST_F(RealFiles, FromSrecCat)
{
    if (!have_tool("srec_cat"))
        GTEST_SKIP() << "srec_cat (package srecord) is not installed";
    const std::string cat = "srec_cat module.bin -binary -offset 0x8000 -o modu.abs -motorola "
                            "-execution-start-address=0x8000";
    std::vector<Variant> variants;
    for (int width : {2, 3, 4}) {
        std::string w = " -address-length=" + std::to_string(width);
        std::string type = std::string(1, 'S').append(1, char('0' + width - 1));
        // The longest data for each address width fills the count byte.
        int longest = 252 - (width - 2);
        for (int per_line : {16, 32, 100, longest}) {
            std::string obs = " -obs=" + std::to_string(per_line);
            variants.push_back({type + obs, cat + w + obs, 0x8000, false});
        }
        variants.push_back({type + " CR LF",
                            cat + w + " -line-termination=crlf", 0x8000, false});
        variants.push_back({type + " without header, count or end",
                            cat + w + " -disable=header -disable=data-count -disable=exec-start-address",
                            0x8000, false});
    }
    // A link address that needs three and four address bytes.
    variants.push_back({"S2 at 0x123400",
                        "srec_cat module.bin -binary -offset 0x123400 -o modu.abs -motorola",
                        0x123400, false});
    variants.push_back({"S3 at 0x40000000",
                        "srec_cat module.bin -binary -offset 0x40000000 -o modu.abs -motorola -obs=64",
                        0x40000000, false});
    for (const Variant &v : variants)
        check(v);
}

TEST_F(RealFiles, FromObjcopy)
{
    if (!have_tool("srec_cat") || !have_tool("objcopy"))
        GTEST_SKIP() << "srec_cat (package srecord) or objcopy (binutils) is not installed";
    const std::string objcopy = "objcopy -I binary -O srec ";
    std::vector<Variant> variants;
    for (bool lf : {false, true}) {
        std::string eol = lf ? ", LF" : ", CR LF";
        variants.push_back({"S1 default" + eol,
                            objcopy + "--change-addresses 0x8000 module.bin modu.abs", 0x8000, lf});
        variants.push_back({"S1 --srec-len=255" + eol,
                            objcopy + "--change-addresses 0x8000 --srec-len=255 module.bin modu.abs",
                            0x8000, lf});
        variants.push_back({"S2 --srec-len=64" + eol,
                            objcopy + "--change-addresses 0x18000 --srec-len=64 module.bin modu.abs",
                            0x18000, lf});
        variants.push_back({"S3 --srec-len=255" + eol,
                            objcopy + "--change-addresses 0x8000 --srec-forceS3 --srec-len=255 "
                                      "module.bin modu.abs",
                            0x8000, lf});
    }
    for (const Variant &v : variants)
        check(v);
    // objcopy's longest lines: 514 characters before the CR LF.
    ASSERT_EQ(shell(dir.path(), objcopy + "--change-addresses 0x8000 --srec-len=255 module.bin "
                                          "modu.abs"),
              0);
    EXPECT_EQ(lines_of(read_file(dir.file("modu.abs")))[1].size(), 515u);
}
