// Option letters and type names.
#include "driver/option_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "byte_order.h"
#include "fixtures.h"
#include "options.h"
#include "state.h"
#include "status.h"
#include "test_support.h"
#include "version.h"

class OptionParser : public StateTest {
protected:
    // Runs set_option and returns what it printed.
    std::string set(int letter, const char *value, int32_t expected = STATUS_OK)
    {
        StdoutCapture out;
        EXPECT_EQ(set_option(letter, value), expected) << char(letter) << " " << value;
        return out.stop();
    }
};

TEST_F(OptionParser, FlagLetters)
{
    for (int letter : {'#', '*'})
        set(letter, "anything");
    EXPECT_EQ(options, 0u);
    set('?', "");
    EXPECT_EQ(options, OPT_HELP);
    set('C', ""); set('D', ""); set('E', ""); set('H', ""); set('U', ""); set('Z', "");
    EXPECT_EQ(options, OPT_HELP | OPT_FILE_CRC | OPT_OUT_THD | OPT_IN_R9500 | OPT_UPGRADE |
                           OPT_COMPRESS);
    EXPECT_EQ(set('V', ""), "Tarvel - Set CRC of Module * V" TARVEL_VERSION " " TARVEL_RELEASE_DATE "\n");
    EXPECT_TRUE(options & OPT_VERBOSE);
}

TEST_F(OptionParser, UnknownLettersAreReported)
{
    EXPECT_EQ(set('Q', "x", STATUS_FAILED), "Unknown option Q\n");
    EXPECT_EQ(set(-1, "x", STATUS_FAILED), "Unknown option \xff\n");
    EXPECT_EQ(set(0, "", STATUS_FAILED), std::string("Unknown option ") + '\0' + "\n");
}

TEST_F(OptionParser, NumbersInEveryBase)
{
    for (const char *v : {"0x21", "33", "041"}) {
        set('N', v);
        EXPECT_EQ(summary.number, 33) << v;
    }
    set('N', "300");
    EXPECT_EQ(summary.number, 44);
    set('N', "junk");
    EXPECT_EQ(summary.number, 0);

    set('R', "0x0102");
    EXPECT_EQ(summary.version[0], 0x01);
    EXPECT_EQ(summary.version[1], 0x02);
    set('R', "0x123456");
    EXPECT_EQ(get_be16(summary.version), 0x3456);

    set('Y', "0x1A4");
    EXPECT_EQ(summary.type, 0xA4);

    set('L', "  8000zz");
    EXPECT_EQ(link_address, 0x8000u);
    set('L', "x");
    EXPECT_EQ(link_address, 0u);
}

TEST_F(OptionParser, SerialNumberModes)
{
    set('S', "+");
    EXPECT_EQ(serial_mode, SERIAL_INCREMENT);
    EXPECT_EQ(serial_number, 0);
    set('S', "12");
    EXPECT_EQ(serial_mode, SERIAL_SET);
    EXPECT_EQ(serial_number, 12);
    set('S', "+5");
    EXPECT_EQ(serial_mode, SERIAL_INCREMENT);
    EXPECT_EQ(serial_number, 12);
    set('S', "-1");
    EXPECT_EQ(serial_mode, SERIAL_SET);
    EXPECT_EQ(serial_number, -1);
    set('S', "abc");
    EXPECT_EQ(serial_number, 0);
}

TEST_F(OptionParser, RecordSize)
{
    set('T', "32");
    EXPECT_EQ(record_size, 32);
    EXPECT_TRUE(options & OPT_OUT_THX);
    set('T', "abc");
    EXPECT_EQ(record_size, 0);
    set('T', "99999999999");
    EXPECT_EQ(record_size, INT32_MAX);
}

TEST_F(OptionParser, TextsAreCutToTheirFields)
{
    set('A', "ABCDEFGHIJ");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(summary.tag), 8), "ABCDEFGH");
    EXPECT_EQ(summary.version[0], 0);  // no terminator spills over
    set('A', "DATA");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(summary.tag), 8), std::string("DATA\0\0\0\0", 8));

    set('X', "ABCDEFGHIJKLM");
    EXPECT_EQ(std::string(configuration, 12), std::string("ABCDEFGHIJK\0", 12));

    std::string long_text(400, 'n');
    set('@', long_text.c_str());
    EXPECT_EQ(std::string(summary.name), long_text.substr(0, 259));
    set('F', long_text.c_str());
    EXPECT_EQ(std::string(info_file_name), long_text.substr(0, 259));
    set('M', long_text.c_str());
    EXPECT_EQ(std::string(input_path), long_text.substr(0, 259));
    EXPECT_EQ(std::string(output_path), long_text.substr(0, 259));
    EXPECT_TRUE(options & OPT_MODULE);
    set('M', "second");
    EXPECT_STREQ(input_path, "second");
}

TEST_F(OptionParser, FileTypes)
{
    set('I', "RAWDATA");
    EXPECT_EQ(options, OPT_IN_RAW);
    EXPECT_STREQ(input_ext, "raw");
    set('I', "s19");
    EXPECT_STREQ(input_ext, "s19");
    set('I', "Shx");
    EXPECT_STREQ(input_ext, "shx");
    EXPECT_EQ(options, OPT_IN_RAW);
    set('I', "bin");
    set('I', "thx");
    EXPECT_EQ(options, OPT_IN_RAW | OPT_IN_BIN | OPT_IN_THX);
    EXPECT_STREQ(input_ext, "thx");

    EXPECT_EQ(set('I', "ab", ERR_INPUT_TYPE), "Input extension ab ab???\n");
    EXPECT_EQ(set('I', "xyzzy", ERR_INPUT_TYPE), "Input extension xyz xyzzy???\n");
    EXPECT_STREQ(input_ext, "thx");

    set('O', "BIN");
    set('O', "thx");
    EXPECT_TRUE(options & OPT_OUT_BIN);
    EXPECT_TRUE(options & OPT_OUT_THX);
    EXPECT_STREQ(output_ext, "thx");
    EXPECT_EQ(set('O', "abs", ERR_OUTPUT_TYPE), "");
    EXPECT_EQ(set_file_type('Q', "bin"), ERR_TYPE_LETTER);
}
