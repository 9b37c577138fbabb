// Info files, their keywords and the "_CFG" records in generic.tmp.
#include "driver/info_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "driver/option_parser.h"
#include "fixtures.h"
#include "options.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

Bytes cfg_record(const Bytes &word1, const Bytes &word2, const std::string &number_hex)
{
    return Bytes("_CFG") + Bytes(4, '\0') + hex_bytes("00 00 00 18") + word1 +
           Bytes(8 - word1.size(), '\0') + word2 + Bytes(8 - word2.size(), '\0') +
           hex_bytes(number_hex);
}

}  // namespace

// Runs in a fresh working directory, where generic.tmp is written.
class InfoFile : public WorkingDirTest {
protected:
    // Reads an info file of the given text; returns what was printed.
    std::string read(const Bytes &text, int32_t expected)
    {
        write_file("info.txt", text);
        StdoutCapture out;
        EXPECT_EQ(set_option('G', "info.txt"), expected);
        return out.stop();
    }
    std::string tag() const { return std::string(reinterpret_cast<const char *>(summary.tag), 8); }
};

TEST_F(InfoFile, HelpExampleInEveryLineEnd)
{
    const char *lines[] = {"tag=DATA", "name=Data file for appli XYZ", "type=10", "version=0",
                           "number=33"};
    for (const char *end : {"\n", "\r\n"}) {
        init_state();
        Bytes text;
        for (const char *line : lines)
            text += Bytes(line) + end;
        EXPECT_EQ(read(text, STATUS_OK), "");
        EXPECT_EQ(tag(), Bytes("DATA") + Bytes(4, '\0'));
        EXPECT_STREQ(summary.name, "Data file for appli XYZ");
        EXPECT_EQ(summary.type, 10);
        EXPECT_EQ(summary.version[0] | summary.version[1], 0);
        EXPECT_EQ(summary.number, 33);
    }
    EXPECT_EQ(cfg_created, 0);
    EXPECT_FALSE(file_exists("generic.tmp"));

    // Values are taken after the first '=' as they stand.
    init_state();
    EXPECT_EQ(read("tag = DATA\nname=a=b\nSNBR=+\nconfiguration=ABCDEFGHIJKLMNOP\x1Atype=9\n",
                   STATUS_OK),
              "");
    EXPECT_EQ(tag(), Bytes(" DATA") + Bytes(3, '\0'));
    EXPECT_STREQ(summary.name, "a=b");
    EXPECT_EQ(serial_mode, SERIAL_INCREMENT);
    EXPECT_STREQ(configuration, "ABCDEFGHIJK");
    EXPECT_EQ(summary.type, 0);  // cut at the 0x1A
    init_state();
    EXPECT_EQ(read("tagname=T\nSNBR=-12\nnumber=0x121\nversion=0x0102\n", STATUS_OK), "");
    EXPECT_EQ(tag(), Bytes("T") + Bytes(7, '\0'));
    EXPECT_EQ(serial_mode, SERIAL_SET);
    EXPECT_EQ(serial_number, -12);
    EXPECT_EQ(summary.number, 0x21);
    EXPECT_EQ(summary.version[0], 1);
    EXPECT_EQ(summary.version[1], 2);
}

TEST_F(InfoFile, SkippedCommentAndLongLines)
{
    // Comments need no '='; empty lines and bare line ends are skipped.
    EXPECT_EQ(read("# a comment\n\n\r\n#x=y\ntype=3\n", STATUS_OK), "");
    EXPECT_EQ(summary.type, 3);

    // A line longer than 259 characters is read in pieces: the rest of this
    // comment is a line of its own. After 259 characters the line end alone
    // is the next piece, which is skipped.
    EXPECT_EQ(read("#" + Bytes(258, 'c') + "type=7\n", STATUS_OK), "");
    EXPECT_EQ(summary.type, 7);
    EXPECT_EQ(read("#" + Bytes(252, 'c') + "type=8\n", STATUS_OK), "");
    EXPECT_EQ(summary.type, 7);
}

TEST_F(InfoFile, RefusedLinesStopTheFile)
{
    EXPECT_EQ(read("type=1\n   \ntype=2\n", STATUS_FAILED), "Unknown option \xFF\n   \n");
    EXPECT_EQ(summary.type, 1);
    EXPECT_EQ(read("Name=x\n", STATUS_FAILED), "Unknown option \xFF\nName=x\n");
    // A keyword without '=' is not taken as an empty value.
    EXPECT_EQ(read("SNBR\n", STATUS_FAILED), "Unknown option \xFF\nSNBR\n");
    EXPECT_EQ(serial_mode, SERIAL_NONE);

    StdoutCapture out;
    EXPECT_EQ(set_option('G', "missing.txt"), ENOENT);
    EXPECT_EQ(read_info_file(nullptr), ENOENT);
    EXPECT_EQ(out.stop(), "");
}

TEST_F(InfoFile, CfgLinesBecomeRecords)
{
    EXPECT_EQ(read("CFG=ABCDEFGHIJ XY 5\nCFG=PORT1 MODE2 -1\nCFG=\nCFG=AB CDEFGHIJ12\n"
                   "CFG=ABCDEFGHIJKLMNOPQ7\n",
                   STATUS_OK),
              "");
    EXPECT_EQ(cfg_created, 1);
    EXPECT_EQ(cfg_file, nullptr);  // closed at the end of the info file
    EXPECT_FALSE(file_exists("generic.tmp"));  // its successor takes its place at the commit
    EXPECT_EQ(read_file(cfg_file_name),
              cfg_record("ABCDEFGH", "IJ", "00 00 00 18") +
                  cfg_record("PORT1", "MODE2", "FF FF FF FF") + cfg_record("", "", "00 00 00 18") +
                  cfg_record("AB", "CDEFGHIJ", "00 00 00 0C") +
                  cfg_record("ABCDEFGH", "IJKLMNOP", "00 00 00 18"));

    // A record after the file was closed is appended, not lost.
    EXPECT_EQ(set_option('_', "LATE 1"), STATUS_OK);
    EXPECT_EQ(finish_cfg_file(), STATUS_OK);
    commit_test_files();
    EXPECT_EQ(read_file("generic.tmp").size(), 6 * CFG_RECORD_SIZE);
    EXPECT_EQ(read_file("generic.tmp").substr(5 * CFG_RECORD_SIZE),
              cfg_record("LATE", "1", "00 00 00 18"));

    // A new run starts the file again; one that fails leaves it as it was.
    init_state();
    EXPECT_EQ(read("CFG=ONE 1\n", STATUS_OK), "");
    commit_test_files();
    EXPECT_EQ(read_file("generic.tmp"), cfg_record("ONE", "1", "00 00 00 18"));
    init_state();
    EXPECT_EQ(read("CFG=TWO 2\n", STATUS_OK), "");
    init_state();
    EXPECT_EQ(read_file("generic.tmp"), cfg_record("ONE", "1", "00 00 00 18"));
    EXPECT_EQ(files_in(".").size(), 2u);  // generic.tmp and the info file
    init_state();
    EXPECT_EQ(read("type=1\n", STATUS_OK), "");
    EXPECT_EQ(cfg_created, 0);
    EXPECT_EQ(read_file("generic.tmp"), cfg_record("ONE", "1", "00 00 00 18"));
}

TEST_F(InfoFile, GenericTmpFailures)
{
    std::filesystem::create_directory("generic.tmp");
    EXPECT_EQ(read("type=1\nCFG=A 1\ntype=2\n", ERR_CFG_FILE), "CFG=A 1\n");
    EXPECT_EQ(summary.type, 1);
    EXPECT_EQ(cfg_created, 0);
    std::filesystem::remove("generic.tmp");

    // A record that cannot be written whole closes the file.
    write_file("info.txt", "CFG=A 1\n");
    LimitedCall full = call_with_file_size_limit(0, [] {
        int32_t status = set_option('G', "info.txt");
        return cfg_file == nullptr ? status : -2;
    });
    EXPECT_EQ(full.status, ERR_WRITE_SHORT);
    EXPECT_EQ(full.out, "CFG=A 1\n");
}

TEST_F(InfoFile, GenericTmpIsNeverWrittenThroughALink)
{
    write_file("victim", "keep me");
    std::filesystem::create_symlink("victim", "generic.tmp");
    EXPECT_EQ(read("CFG=A 1\n", STATUS_OK), "");
    commit_test_files();
    EXPECT_EQ(read_file("victim"), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink("generic.tmp"));
    EXPECT_EQ(read_file("generic.tmp"), cfg_record("A", "1", "00 00 00 18"));
}
