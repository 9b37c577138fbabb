// The tool's main job on S-record files, and thx and r9500 input, run as a
// whole program on the sample module.
#include <gtest/gtest.h>

#include <string>

#include "builders.h"
#include "fixtures.h"
#include "state.h"
#include "test_support.h"
#include "version.h"

namespace {

const std::string BANNER = "Tarvel - Set CRC of Module * V" TARVEL_VERSION " " TARVEL_RELEASE_DATE "\n";
const std::string LOADED = "\ttarvel modu.abs  Alloc 1028 [00000420]Record size [00000100] "
                           " EXAMPLE1 CRC ADAA Size 256 Type 00 Version 0102\n";
// The link record of the sample before and after: FFFF becomes ADAA and the
// checksum 27 becomes 27 + FF + FF - AD - AA = CE.
const std::string LINK_BEFORE =
    "S1238000FFFF7FFF87CDF00F0000010000000000010001024558414D504C45310000002427";
const std::string LINK_AFTER =
    "S1238000ADAA7FFF87CDF00F0000010000000000010001024558414D504C453100000024CE";

class RecordJob : public ProgramTest {
protected:
    void SetUp() override
    {
        sample = read_file(std::string(TARVEL_EXAMPLES) + "/modu.abs");
        write_file(dir.file("modu.abs"), sample);
    }

    // The sample with the CRC patched into its link record.
    Bytes patched() const
    {
        Bytes expected = sample;
        size_t at = expected.find(LINK_BEFORE);
        EXPECT_NE(at, std::string::npos);
        return expected.replace(at, LINK_BEFORE.size(), LINK_AFTER);
    }

    // The sample module with its CRC set.
    Bytes module() const
    {
        Bytes m = read_file(std::string(TARVEL_EXAMPLES) + "/modu.bin");
        m[0] = '\xAD';
        m[1] = '\xAA';
        return m;
    }

    Bytes sample;
};

}  // namespace

TEST_F(RecordJob, SetsTheCrcInPlaceAndKeepsTheOldFileAsBak)
{
    RunResult first = run({"-m=modu", "-l=8000", "-v"});
    EXPECT_EQ(first.exit_code, 0);
    EXPECT_EQ(first.out, BANNER + LOADED +
                             "2 unlink modu.bak\n"
                             "0 rename modu.abs modu.bak\n"
                             "0 rename modu.new modu.abs\n"
                             "Exit code 0 Error 0000\n");
    EXPECT_EQ(file("modu.abs"), patched());
    EXPECT_EQ(file("modu.bak"), sample);
    EXPECT_FALSE(file_exists(dir.file("modu.new")));

    // The second run removes the first run's bak file; the CRC is right now.
    RunResult second = run({"-m=modu", "-l=8000", "-v"});
    EXPECT_EQ(second.exit_code, 0);
    EXPECT_EQ(second.out, BANNER + LOADED +
                              "0 unlink modu.bak\n"
                              "0 rename modu.abs modu.bak\n"
                              "0 rename modu.new modu.abs\n"
                              "Exit code 0 Error 0000\n");
    EXPECT_EQ(file("modu.abs"), patched());
    EXPECT_EQ(file("modu.bak"), patched());
}

TEST_F(RecordJob, QuietRunAndAWrongStoredCrc)
{
    // A CRC that was set before and is wrong now is reported and replaced.
    std::string wrong = s_data('1', 0x8000, "\x1D\xAA" + module().substr(2, 30));
    Bytes text = sample;
    text.replace(text.find(LINK_BEFORE), LINK_BEFORE.size(), wrong);
    write_file(dir.file("modu.abs"), text);
    RunResult r = run({"-m=modu", "-l=8000"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "\ttarvel modu.abs  EXAMPLE1 CRC ADAA Size 256 Type 00 Version 0102\n"
                     "Crc difference - Original 1daa - Calculated adaa\n");
    EXPECT_EQ(file("modu.abs"), patched());
}

TEST_F(RecordJob, OutputsBesideTheMainJobLoadBack)
{
    RunResult r = run({"-m=modu", "-l=8000", "-v", "-o=thx", "-d", "-t=100"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, BANNER + LOADED +
                         "Output modu.thx\n"
                         " & modu.thd2 unlink modu.bak\n"
                         "0 rename modu.abs modu.bak\n"
                         "0 rename modu.new modu.abs\n"
                         "Exit code 0 Error 0000\n");
    EXPECT_EQ(file("modu.thx").size(), 24u + 2 * 108 + 64 + 4);
    EXPECT_EQ(file("modu.thd").size(), 20u);

    // The thx file loads back with the same link address.
    RunResult back = run({"-m=modu", "-i=thx", "-l=8000", "-o=bin"});
    EXPECT_EQ(back.exit_code, 0) << back.out;
    EXPECT_EQ(file("modu.bin"), module());
}

TEST_F(RecordJob, ThxInputIsRewrittenInPlace)
{
    ASSERT_EQ(run({"-m=modu", "-l=8000", "-o=thx"}).exit_code, 0);
    Bytes thx = file("modu.thx");
    // By default the output is the input file itself.
    RunResult r = run({"-m=modu", "-i=thx", "-l=8000", "-t=16", "-v"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, BANNER +
                         "\ttarvel modu.thx  Alloc 1028 [00000420]Record size [00000100] "
                         " EXAMPLE1 CRC ADAA Size 256 Type 00 Version 0102\n"
                         "Output modu.thx\n"
                         "Exit code 0 Error 0000\n");
    EXPECT_EQ(file("modu.thx").size(), 24u + 16 * 24 + 4);
    EXPECT_FALSE(file_exists(dir.file("modu.thx.tarvel-tmp")));
    EXPECT_EQ(file("modu.abs"), patched());  // the first run's, untouched
}

TEST_F(RecordJob, R9500InputIsOnlyLoadedAndSummarised)
{
    write_file(dir.file("modu.bak"), "old");
    RunResult r = run({"-m=modu", "-l=8000", "-e", "-v", "-o=bin", "-d", "-t=16"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, BANNER +
                         "\ttarvel modu.abs  Alloc 294912 [00048020]Record size [00000100] "
                         " EXAMPLE1 CRC ADAA Size 256 Type 00 Version 0102\n"
                         "Output modu.bin\n"
                         " & modu.thd0 unlink modu.bak\n"
                         "Exit code 0 Error 0000\n");
    // Command 3 still removes the bak file; nothing is copied or written.
    EXPECT_FALSE(file_exists(dir.file("modu.bak")));
    EXPECT_EQ(file("modu.abs"), sample);
    for (const char *name : {"modu.new", "modu.bin", "modu.thd", "modu.thx"})
        EXPECT_FALSE(file_exists(dir.file(name))) << name;
}

TEST_F(RecordJob, ALinkRecordThatIsATRecordLeavesTheInputInPlace)
{
    // Command 7 writes the sample as T-records; given as abs input, its link
    // record cannot take the CRC.
    ASSERT_EQ(run({"-m=modu", "-l=8000", "-o=thx"}).exit_code, 0);
    Bytes t_records = file("modu.thx");
    write_file(dir.file("modu.abs"), t_records);
    RunResult r = run({"-m=modu", "-l=8000"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1),
              "Writing 255 bytes, actually 34900 written, Aborting\n"
              "Error 8002, errno 0 in batchfile command 4\n");  // the bak file was removed
    EXPECT_EQ(file("modu.abs"), t_records);
    EXPECT_FALSE(file_exists(dir.file("modu.bak")));
}

TEST_F(RecordJob, RecordSizesBeyondTheCountByteAreRefused)
{
    RunResult r = run({"-m=modu", "-l=8000", "-t=251"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1),
              "Record size 251 is out of range 0 to 250\n"
              "Error 1, errno 2 in batchfile command 7\n");  // from removing a missing bak
    EXPECT_FALSE(file_exists(dir.file("modu.thx")));
}
