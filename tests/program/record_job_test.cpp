// The tool's main job on S-record files, and thx and r9500 input, run as a
// whole program on the sample module.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "builders.h"
#include "fixtures.h"
#include "state.h"
#include "status.h"
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
    EXPECT_EQ(files_in(dir.path()).size(), 3u);  // abs, bak, thx: no temporary file left
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
    // Nothing is copied, written or removed.
    EXPECT_EQ(file("modu.bak"), "old");
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
              "Error 8002, errno 0 in batchfile command 4\n");
    EXPECT_EQ(file("modu.abs"), t_records);
    EXPECT_EQ(file("modu.bak"), sample);  // the first run's, kept by the failed one
    EXPECT_EQ(files_in(dir.path()).size(), 3u);  // abs, bak, thx: no modu.new left
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

TEST_F(RecordJob, DamagedRecordsFailTheRunAndChangeNoFile)
{
    // One record of each kind the decoders read, its last checksum digit changed.
    auto broken = [](const std::string &text, size_t line) {
        std::string t = text;
        size_t end = 0;
        for (size_t i = 0; i < line; i++)
            end = t.find('\n', end) + 1;
        size_t last = t.find('\n', end) - 1;
        if (t[last] == '\r')
            last--;
        t[last] = t[last] == '0' ? '1' : '0';
        return t;
    };
    const Bytes m = module();
    const std::string s1 = s_file(m, 0x8000, '1', 32), s3 = s_file(m, 0x8000, '3', 16, "\r\n");
    std::string s5 = s1;
    s5.insert(s5.rfind("S9"), s_record('5', 3, 2, "") + "\n");  // eight records came before it
    Bytes thx = t_record('0', 0, 0, "thd") + t_record('3', 0x8000, 4, m.substr(0, 128)) +
                t_record('3', 0x8080, 4, m.substr(128)) + t_record('7', 0, 4, "");
    thx[thx.size() - 140] ^= 1;  // a data byte of the second T3 record
    const std::string hex = ihex_file(m, 0x8000, 32);
    std::string lower = s1, cut = s1;
    size_t second = lower.find('\n') + 1;
    lower[second + 8] = 'f';  // an upper-case F read as 0: the checksum no longer matches
    cut.erase(cut.find('\n', second) - 4, 4);
    struct Row {
        const char *ext;
        Bytes text;
        std::string message;
    } rows[] = {
        {"abs", broken(s1, 2), "Record checksum error in line 3, Aborting"},
        {"abs", lower, "Record checksum error in line 2, Aborting"},
        {"abs", cut, "Record checksum error in line 2, Aborting"},  // cut short
        {"abs", broken(s_file(m, 0x8000, '2', 64), 1), "Record checksum error in line 2, Aborting"},
        {"abs", broken(s3, 5), "Record checksum error in line 6, Aborting"},
        {"abs", s5, "Record count 3 in line 10, 8 records read, Aborting"},
        {"abs", broken(s1, 9), "Record checksum error in line 10, Aborting"},  // S9
        {"thx", thx, "Record checksum error at offset 143, Aborting"},
        {"hex", broken(hex, 4), "Record checksum error in line 5, Aborting"},
        {"hex", broken(hex, 9), "Record checksum error in line 10, Aborting"},  // end of file
    };
    for (const Row &row : rows) {
        lay_out(dir, {{std::string("modu.") + row.ext, row.text}, {"modu.bak", "old"}});
        Files before = files_in(dir.path());
        RunResult r = run({"-m=modu", std::string("-i=") + row.ext, "-l=8000", "-o=bin"});
        EXPECT_EQ(r.exit_code, 1) << row.message;
        EXPECT_NE(r.out.find(row.message + "\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.substr(r.out.rfind("Error")), "Error 800e, errno 0 in batchfile command 2\n");
        EXPECT_EQ(files_in(dir.path()), before) << row.message;
    }

    // What is no record is passed over as before: stray bytes, blank lines,
    // CR LF and a trailing Ctrl-Z.
    lay_out(dir, {{"modu.abs", "junk line\n\n" + s_file(m, 0x8000, '1', 32, "\r\n") + "\x1A"}});
    EXPECT_EQ(run({"-m=modu", "-l=8000"}).exit_code, 0);
}

TEST_F(RecordJob, ACheckReadsAndWritesNothing)
{
    // Right, wrong and unset CRCs and a failing module check, in every
    // input type that holds a module; the files as they stand afterwards,
    // times included, are those of before.
    ASSERT_EQ(run({"-m=modu", "-l=8000", "-o=bin", "-o=hex"}).exit_code, 0);
    ASSERT_EQ(run({"-m=modu", "-i=bin", "-l=8000", "-o=thx"}).exit_code, 0);
    Bytes good_bin = file("modu.bin");
    Bytes wrong_bin = good_bin, unset_bin = good_bin, bad_bin = good_bin;
    wrong_bin[1] ^= 1;
    unset_bin[0] = unset_bin[1] = '\xFF';
    bad_bin[4] = 0;  // the magic
    struct Row {
        const char *ext;
        Bytes content;
        std::string verdict;
        int32_t status;
    } rows[] = {
        {"abs", file("modu.abs"), "Crc correct - adaa\n", 0},
        {"abs", sample, "Crc not set - Calculated adaa\n", ERR_CRC_WRONG},
        {"hex", file("modu.hex"), "Crc correct - adaa\n", 0},
        {"thx", file("modu.thx"), "Crc correct - adaa\n", 0},
        {"bin", good_bin, "Crc correct - adaa\n", 0},
        {"bin", wrong_bin, "Crc difference - Original adab - Calculated adaa\n", ERR_CRC_WRONG},
        {"bin", unset_bin, "Crc not set - Calculated adaa\n", ERR_CRC_WRONG},
        {"bin", bad_bin, "Module format problem 8C02 00000100 FFFFFFFF\n", 0x8C02},
        {"elf", read_file(std::string(TARVEL_ELF_FIXTURES) + "/cortex_m.elf"),
         "Crc not set - Calculated da9a\n", ERR_CRC_WRONG},
    };
    for (const Row &row : rows) {
        TempDir check;
        write_file(check.file(std::string("modu.") + row.ext), row.content);
        write_file(check.file("modu.bak"), "old");
        const char *link = std::string(row.ext) == "elf" ? "-l=8008000" : "-l=8000";
        auto stamp = [&] {
            std::map<std::string, std::filesystem::file_time_type> times;
            for (const auto &e : std::filesystem::directory_iterator(check.path()))
                times[e.path().filename().string()] = e.last_write_time();
            return times;
        };
        Files before = files_in(check.path());
        auto times = stamp();
        RunResult r = run_tarvel(check.path(), {"-m=modu", std::string("-i=") + row.ext, link, "-k"});
        EXPECT_EQ(r.exit_code, row.status == 0 ? 0 : 1) << row.ext << " " << row.verdict;
        EXPECT_NE(r.out.find(row.verdict), std::string::npos) << r.out;
        if (row.status != 0) {
            char error[64];
            std::snprintf(error, sizeof error, "Error %x, errno 0 in batchfile command 2\n",
                          unsigned(row.status));
            EXPECT_EQ(r.out.substr(r.out.rfind("Error")), error);
        }
        EXPECT_EQ(files_in(check.path()), before) << row.ext;
        EXPECT_EQ(stamp(), times) << row.ext;
    }

    // An option or input that writes is refused before anything is read.
    for (std::vector<std::string> args : {std::vector<std::string>{"-o=bin"}, {"-d"}, {"-t=16"},
                                         {"-s=+"}, {"-x=T"}, {"-u"}, {"-i=raw"}, {"-_=A B 1"}}) {
        args.insert(args.begin(), {"-m=modu", "-l=8000", "-k"});
        RunResult r = run(args);
        EXPECT_EQ(r.exit_code, 1) << args.back();
        EXPECT_EQ(r.out, "Option -k writes nothing: it cannot be combined with -o, -t, -d, -s, "
                         "-x, -u, -e, raw input or CFG lines\n") << args.back();
        EXPECT_FALSE(file_exists(dir.file("generic.tmp")));
    }
}

TEST_F(RecordJob, ReplacedFilesKeepTheirPermissionBits)
{
    ASSERT_EQ(run({"-m=modu", "-l=8000", "-o=hex", "-o=thx"}).exit_code, 0);
    const Bytes thx = file("modu.thx"), hex = file("modu.hex");
    struct Row {
        const char *file;
        Bytes content;
        std::vector<std::string> args;
        bool backup;  // the run keeps the old file as modu.bak
    } rows[] = {
        {"modu.abs", sample, {"-m=modu", "-l=8000"}, true},
        {"modu.shx", sample, {"-m=modu", "-i=shx", "-l=8000"}, true},
        {"modu.hex", hex, {"-m=modu", "-i=hex", "-l=8000"}, true},
        {"modu.elf", read_file(std::string(TARVEL_ELF_FIXTURES) + "/cortex_m.elf"),
         {"-m=modu", "-i=elf", "-l=8008000"}, true},
        {"modu.thx", thx, {"-m=modu", "-i=thx", "-l=8000", "-t=32"}, false},
        {"modu.bin", bin_module(snbr(5) + terminator), {"-m=modu", "-i=bin", "-s=+", "-o=thx"}, false},
    };
    for (bool links : {true, false}) {
        if (!links && !have_tool("strace"))
            GTEST_SKIP() << "strace is not installed";
        std::vector<std::string> no_links = {"strace", "-qq", "-o", "/dev/null", "-e",
                                             "trace=link,linkat", "-e", "inject=link,linkat:error=EPERM"};
        for (const Row &row : rows) {
            for (unsigned mode : {0600u, 0755u}) {
                SCOPED_TRACE(std::string(row.file) + (links ? "" : " without hard links"));
                lay_out(dir, {{row.file, row.content}});
                ASSERT_EQ(chmod(dir.file(row.file).c_str(), mode), 0);
                RunResult r = links ? run(row.args) : run_tarvel_under(dir.path(), no_links, row.args);
                ASSERT_EQ(r.exit_code, 0) << r.out;
                struct stat st;
                for (const char *name : {row.file, row.backup ? "modu.bak" : row.file}) {
                    ASSERT_EQ(stat(dir.file(name).c_str(), &st), 0) << name;
                    EXPECT_EQ(st.st_mode & 07777, mode) << name;
                }
            }
        }
    }
}
