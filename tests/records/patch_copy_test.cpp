// Copying S-record files with the module CRC patched into the link record.
#include "records/patch_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "builders.h"
#include "byte_order.h"
#include "fixtures.h"
#include "records/record_loader.h"
#include "records/record_reader.h"
#include "state.h"
#include "status.h"
#include "test_support.h"

namespace {

// The 44-byte module with its CRC F7C2 set, split as the files below split it.
Bytes module_with_crc()
{
    Bytes m = small_module();
    m[0] = '\xF7';
    m[1] = '\xC2';
    return m;
}

class PatchCopy : public StateTest {
protected:
    // Loads text as command 2 would (setting link_record, the record
    // number), then copies it to in.new with the CRC of the whole small
    // module. Returns the copy's status.
    //
    // The copy runs twice: once as the tool runs it, with what the load
    // found (the part that needs no repair copied as bytes), and once record
    // by record throughout. Both must give the same status, messages and
    // bytes.
    int32_t copy(const Bytes &text, uint32_t link = 0x8000)
    {
        write_file(dir.file("in.abs"), text);
        link_address = link;
        int32_t rc = copy_once(text, true);
        std::string planned_out = out;
        Bytes planned = copied();
        EXPECT_EQ(copy_once(text, false), rc) << "the record-by-record copy differs";
        EXPECT_EQ(out, planned_out) << "the record-by-record copy says otherwise";
        EXPECT_EQ(copied(), planned) << "the record-by-record copy writes other bytes";
        return rc;
    }
    int32_t copy_once(const Bytes &text, bool with_plan)
    {
        std::vector<uint8_t> image(text.size() + 1100, 0xFF);
        auto load = format == RecordFormat::INTEL_HEX ? load_hex_records : load_records;
        EXPECT_EQ(load(&found, dir.file("in.abs").c_str(), image.data(), uint32_t(image.size() - 32),
                       uint32_t(image.size())),
                  0);
        if (!with_plan)
            found.plan.valid = false;
        found.crcs[0] = 0xF7C2;  // the CRC of the whole module, as command 2 finds it
        StdoutCapture capture;
        int32_t rc = copy_with_crc(dir.file("in.abs").c_str(), dir.file("in.new").c_str(), found);
        out = capture.stop();
        return rc;
    }

    Bytes copied() const { return read_file(dir.file("in.new")); }

    std::string out;
    RecordFormat format = RecordFormat::S_RECORDS;
};

const std::string HEADER = s_record('0', 0, 2, "HDR");
const std::string END = s_record('9', 0x8000, 2, "");

// The link record before and after the patch, and the rest of the module.
std::string link_line() { return s_data('1', 0x8000, small_module().substr(0, 32)); }
std::string patched_line() { return s_data('1', 0x8000, module_with_crc().substr(0, 32)); }
std::string rest_line() { return s_data('1', 0x8020, small_module().substr(32)); }

}  // namespace

TEST_F(PatchCopy, OnlyTheLinkRecordChangesAndLineEndsStay)
{
    for (std::string eol : {"\n", "\r\n"}) {
        std::string in = HEADER + eol + link_line() + eol + rest_line() + eol + END + eol;
        ASSERT_EQ(copy(in), 0);
        EXPECT_EQ(copied(), HEADER + eol + patched_line() + eol + rest_line() + eol + END + eol);
        EXPECT_EQ(out, "");
        EXPECT_EQ(read_file(dir.file("in.abs")), in);
    }
}

TEST_F(PatchCopy, BytesBetweenAndAfterRecordsGoThroughAsTheyAre)
{
    // Blank lines, records after the end record, an end-of-file character,
    // and a last line without a line feed, which gets one.
    std::string in = "\n" + HEADER + "\n\r\n" + link_line() + "\n" + END + "\n" + rest_line() +
                     "\n\x1A" + s_data('1', 0x9000, "zz");
    ASSERT_EQ(copy(in), 0);
    EXPECT_EQ(copied(), "\n" + HEADER + "\n\r\n" + patched_line() + "\n" + END + "\n" +
                            rest_line() + "\n\x1A" + s_data('1', 0x9000, "zz") + "\n");
}

TEST_F(PatchCopy, TheRecordThatLoadedAtTheLinkAddressIsPatched)
{
    // Out of address order: the third line.
    std::string in = HEADER + "\n" + rest_line() + "\n" + link_line() + "\n" + END + "\n";
    ASSERT_EQ(copy(in), 0);
    EXPECT_EQ(link_record, 2);
    EXPECT_EQ(copied(), HEADER + "\n" + rest_line() + "\n" + patched_line() + "\n" + END + "\n");

    // Without a header the first line.
    in = link_line() + "\n" + rest_line() + "\n";
    ASSERT_EQ(copy(in), 0);
    EXPECT_EQ(copied(), patched_line() + "\n" + rest_line() + "\n");

    // Records that take no number do not shift the count: short counts, T0
    // and T5, stray bytes; an S5 record takes one.
    Bytes mixed = t_record('0', 0, 0, "thd") + t_record('5', 0, 2, "") + "S102FFFE\n" +
                  s_record('5', 0, 2, "") + "\n\x1A" + link_line() + "\n" + rest_line() + "\n";
    ASSERT_EQ(copy(mixed), 0);
    EXPECT_EQ(link_record, 2);
    EXPECT_EQ(copied(), t_record('0', 0, 0, "thd") + "\n" + t_record('5', 0, 2, "") + "\n" +
                            "S102FFFE\n" + s_record('5', 0, 2, "") + "\n\x1A" +
                            patched_line() + "\n" + rest_line() + "\n");
}

TEST_F(PatchCopy, WithoutALinkRecordTheCopyEqualsTheInput)
{
    std::string in = HEADER + "\n" + link_line() + "\n" + rest_line() + "\n" + END + "\n";
    ASSERT_EQ(copy(in, 0x7FF0), 0);  // loads at offset 0x10; nothing at 0x7FF0
    EXPECT_EQ(link_record, 0);
    EXPECT_EQ(copied(), in);
}

TEST_F(PatchCopy, LongLinesAndNulBytesArePassedThroughWhole)
{
    std::string overlong = std::string(1, 'S').append(RECORD_BUFFER_SIZE + 300, '5');
    std::string nul("SX\0\0FF", 6);
    std::string in = overlong + "\r\n" + nul + "\n" + link_line() + "\n" + overlong;
    ASSERT_EQ(copy(in), 0);
    EXPECT_EQ(copied(), overlong + "\r\n" + nul + "\n" + patched_line() + "\n" + overlong + "\n");
}

TEST_F(PatchCopy, ALinkRecordThatCannotTakeTheCrcStopsTheCopy)
{
    Bytes t_link = t_record('3', 0x8000, 4, small_module());
    ASSERT_EQ(copy(t_link + hex_bytes("54 37 01 FE")), ERR_WRITE_SHORT);
    EXPECT_EQ(link_record, 1);
    EXPECT_EQ(out, "Writing 52 bytes, actually 34900 written, Aborting\n");
    EXPECT_EQ(copied(), "\n");  // the record is left out, the copy stops

    std::string in = HEADER + "\n" + s_data('1', 0x8000, "\xFF") + "\n" + END + "\n";
    ASSERT_EQ(copy(in), ERR_WRITE_SHORT);
    EXPECT_EQ(out, "Record 1 at the link address has no room for the CRC, Aborting\n");
    EXPECT_EQ(copied(), HEADER + "\n\n");
    EXPECT_EQ(read_file(dir.file("in.abs")), in);
}

TEST_F(PatchCopy, FilesThatCannotBeOpened)
{
    StdoutCapture capture;
    std::string missing = dir.file("missing.abs");
    EXPECT_EQ(copy_with_crc(missing.c_str(), dir.file("in.new").c_str(), found), 1);
    write_file(dir.file("in.abs"), link_line());
    std::string nowhere = dir.file("no/such/dir/in.new");
    EXPECT_EQ(copy_with_crc(dir.file("in.abs").c_str(), nowhere.c_str(), found), 1);
    EXPECT_EQ(capture.stop(), "Unable to open input file " + missing + "\nUnable to open output file " +
                                  nowhere + "\n");
    EXPECT_EQ(open_flags, 0u);
}

TEST_F(PatchCopy, ACopyThatDidNotReachTheDiskFails)
{
    // The new file may not grow at all: every write to it fails.
    std::string in = dir.file("in.abs"), out = dir.file("in.new");
    auto copy = [&] { return copy_with_crc(in.c_str(), out.c_str(), found); };
    // Small enough to sit in the stream buffer: the flush finds the error.
    write_file(in, link_line() + "\n");
    LimitedCall small = call_with_file_size_limit(0, copy);
    EXPECT_EQ(small.status, ERR_WRITE_SHORT);
    EXPECT_EQ(small.out, "Unable to write " + out + " to disk, Aborting\n");

    // Larger: a record write falls short on the way.
    std::string big;
    for (int i = 0; i < 400; i++)
        big += s_data('1', 0x9000 + 32 * i, Bytes(32, 'b')) + "\n";
    write_file(in, big);
    LimitedCall large = call_with_file_size_limit(0, copy);
    EXPECT_EQ(large.status, ERR_WRITE_SHORT);
    EXPECT_EQ(large.out.rfind("Writing 74 bytes, actually ", 0), 0u) << large.out;
}

TEST_F(PatchCopy, ThePlantedNewNameIsReplacedNotWrittenThrough)
{
    // A link standing at the new file's name, pointing at another file:
    // the copy replaces the link and leaves the other file alone.
    std::string in = dir.file("in.abs"), out = dir.file("in.new"), victim = dir.file("victim");
    write_file(in, link_line() + "\n");
    write_file(victim, "keep me");
    std::filesystem::create_symlink(victim, out);
    StdoutCapture capture;
    EXPECT_EQ(copy_with_crc(in.c_str(), out.c_str(), found), STATUS_OK);
    EXPECT_EQ(capture.stop(), "");
    EXPECT_EQ(read_file(victim), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink(out));
    EXPECT_EQ(read_file(out).size(), link_line().size() + 1);

    // A device or a directory at that name is not removed: the copy fails.
    if (file_exists("/dev/full")) {
        StdoutCapture capture2;
        EXPECT_EQ(copy_with_crc(in.c_str(), "/dev/full", found), 1);
        EXPECT_EQ(capture2.stop(), "Unable to open output file /dev/full\n");
        EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    }
    EXPECT_EQ(open_flags, 0u);
}

TEST_F(PatchCopy, RecordsAcrossBlockBoundaries)
{
    // S0 lines of exactly length bytes: they take no number.
    auto filler = [](size_t length) {
        Bytes text;
        while (length - text.size() > 200)
            text += HEADER + std::string(200 - HEADER.size() - 1, ' ') + "\n";
        return text + HEADER + std::string(length - text.size() - HEADER.size() - 1, ' ') + "\n";
    };
    Bytes t3 = t_record('3', 0x9000, 4, "\n\nxy");
    std::string last = s_data('1', 0xA000, "zz");  // the file ends without a line feed
    for (size_t before = 0; before <= 80; before++) {
        // The link record, and then a T-record after it, across the boundary
        // between the first two read blocks (and the first two output pieces).
        Bytes in = filler(RECORD_BLOCK - before) + link_line() + "\n" + t3 + rest_line() + "\n" + last;
        ASSERT_EQ(copy(in), 0) << before;
        EXPECT_EQ(copied(), filler(RECORD_BLOCK - before) + patched_line() + "\n" + t3 + "\n" +
                                rest_line() + "\n" + last + "\n")
            << before;

        in = link_line() + "\n" + filler(RECORD_BLOCK - before) + t3 + last;
        ASSERT_EQ(copy(in), 0) << before;
        EXPECT_EQ(copied(), patched_line() + "\n" + filler(RECORD_BLOCK - before) + t3 + "\n" + last + "\n")
            << before;
    }
}

// Intel HEX files are copied exactly: every byte but the link record's
// four CRC and two checksum characters, a last line without a line feed,
// stray bytes and what follows the end-of-file record included.
TEST_F(PatchCopy, IntelHexFilesAreCopiedExactly)
{
    format = RecordFormat::INTEL_HEX;
    const Bytes module = small_module(), with_crc = module_with_crc();
    const std::string base = ihex_linear_base(0x8000);
    const std::string link = ihex_record(0, 0x8000, module.substr(0, 32));
    const std::string patched = ihex_record(0, 0x8000, with_crc.substr(0, 32));
    const std::string rest = ihex_record(0, 0x8020, module.substr(32));
    for (std::string eol : {"\n", "\r\n"}) {
        std::string before = base + eol + link + eol + rest + eol + IHEX_END;  // no line end at the end
        ASSERT_EQ(copy(before), 0);
        EXPECT_EQ(copied(), base + eol + patched + eol + rest + eol + IHEX_END);
    }
    // Stray bytes, an S-record line (stray bytes too, in an Intel HEX file)
    // and records after the end of file go through as they are.
    std::string odd = "\n\x1A" + base + "\n" + s_data('1', 0x8000, "ab") + "\n" + link + "\n" + rest +
                      "\n" + IHEX_END + "\n" + ihex_record(0, 0x8000, "zz") + "\n";
    ASSERT_EQ(copy(odd), 0);
    std::string expected = odd;
    expected.replace(expected.find(link), link.size(), patched);
    EXPECT_EQ(copied(), expected);
}

TEST_F(PatchCopy, AnIntelHexLinkRecordWithoutRoomIsRefused)
{
    format = RecordFormat::INTEL_HEX;
    std::string text = ihex_linear_base(0x8000) + "\n" + ihex_record(0, 0x8000, "a") + "\n" + IHEX_END + "\n";
    EXPECT_EQ(copy(text), ERR_WRITE_SHORT);
    EXPECT_EQ(out, "Record 1 at the link address has no room for the CRC, Aborting\n");
}
