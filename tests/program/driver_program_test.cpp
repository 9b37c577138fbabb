// The whole tool: arguments, help, exit codes, the file CRC and the bin path.
#include <gtest/gtest.h>

#include <string>

#include "builders.h"
#include "fixtures.h"
#include "test_support.h"
#include "version.h"

namespace {

const std::string banner = "Tarvel - Set CRC of Module * V" TARVEL_VERSION " " TARVEL_RELEASE_DATE "\n";

std::string help_text()
{
    return banner +
           " Use : tarvel -m=[path/]modu [-l=link_address] [-t=rec_size] [-i=abs] [-o=thx]\n"
           "[-u] [-v] [-z] [-f=file.cmd]\n"
           " Tarvel builds the module in memory and calculates the CRC-16.\n"
           " The CRC is added to the file and rewritten to modu.abs.\n"
           " Other conversions : - shx, thx, bin, raw -> thx, [thd,] bin\n"
           " The memory is preset to 0xFF - flash compatibility\n"
           " -c : crc on input file               -d : output thd file\n"
           " -f : info file for raw input mode    -e : input is r9500 file\n"
           "      Syntax ( one command/line ) :   -? -h : help\n"
           "       tag=DATA\n"
           "       name=Data file for appli XYZ\n"
           "       type=10\n"
           "       version=0\n"
           "       number=33\n"
           " -i : input file type : abs,shx,thx,bin,raw/s19\n"
           " -l : hex code link address of the input file\n"
           " -o : output file type : thx, bin\n"
           " -s : update serial number            -t : decimal record size of thx\n"
           " -u : upgrade old module format to current\n"
           " -v : verbose mode                    -z : compress\n";
}

}  // namespace

class Program : public ProgramTest {};

TEST_F(Program, ArgumentsHelpAndExitLine)
{
    RunResult r = run({});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");

    r = run({"-h"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, help_text());

    r = run({"-v", "-?"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, banner + help_text() + "Exit code 1 Error 8801\n");

    r = run({"modu", "-v"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
}

TEST_F(Program, OptionErrors)
{
    RunResult r = run({"-q", "-c", "-m=x"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "Unknown option Q\n");

    r = run({"-"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, std::string("Unknown option ") + '\0' + "\n");

    r = run({"-v", "-h", "-i=ab", "-m=x"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, banner + "Input extension ab ab???\nOptions error 8802\n" + help_text() +
                         "Exit code 1 Error 8802\n");

    r = run({"-v", "-o=zip"});
    EXPECT_EQ(r.out, banner + "Options error 8803\nExit code 1 Error 8803\n");
}

TEST_F(Program, WordEndsTheOptions)
{
    RunResult r = run({"-m=x", "foo", "-v"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "Unable to open input file x.abs\nError 1, errno 2 in batchfile command 1\n");
}

TEST_F(Program, FileCrc)
{
    write_file(dir.file("data.bin"), "123456789");
    RunResult r = run({"-c", "-m=data.bin"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "data.bin Size 9 Crc 3dbb\n");

    r = run({"-c", "-m=missing"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "Unable to open input file missing\n");

    // -c acts even after a failed option, with no path to read.
    r = run({"-c", "-q"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "Unknown option Q\nUnable to open input file \n");
}

TEST_F(Program, BinModuleToBinAndThd)
{
    write_file(dir.file("modu.bin"), small_module());
    RunResult r = run({"-m=modu", "-i=bin", "-o=bin", "-d", "-v"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, banner +
                         "\ttarvel modu.bin  Alloc 1028 [00000420] DATADATA CRC F7C2 Size 44 "
                         "Type 00 Version 0000\n"
                         "Output modu.bin\n & modu.thdExit code 0 Error 0000\n");
    Bytes expected = small_module();
    expected[0] = char(0xF7);
    expected[1] = char(0xC2);
    EXPECT_EQ(read_file(dir.file("modu.bin")), expected);
    EXPECT_EQ(read_file(dir.file("modu.thd")),
              std::string("DATADATA") + hex_bytes("00 00 F7 C2 00 00 00 2C 00 00 00 00"));

    // A second run finds the CRC set and changes nothing.
    r = run({"-m=modu", "-i=bin", "-o=bin"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "\ttarvel modu.bin  DATADATA CRC F7C2 Size 44 Type 00 Version 0000\n");
    EXPECT_EQ(read_file(dir.file("modu.bin")), expected);
}

TEST_F(Program, FailedModuleCheckStopsTheBatch)
{
    Bytes broken = small_module();
    broken[41] = 0;
    write_file(dir.file("modu.bin"), broken);
    RunResult r = run({"-m=modu", "-i=bin", "-o=bin", "-d", "-v"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, banner +
                         "\ttarvel modu.bin  Alloc 1028 [00000420] DATADATA CRC 27DE Size 44 "
                         "Type 00 Version 0000\n"
                         "Module format problem 8C40 0000002C FFFFFFFF\n"
                         "Error 8c40, errno 0 in batchfile command 2\n"
                         "Exit code 1 Error 8C40\n");
    EXPECT_EQ(read_file(dir.file("modu.bin")), broken);
    EXPECT_FALSE(file_exists(dir.file("modu.thd")));
}

TEST_F(Program, R9500InputIsOnlySummarised)
{
    write_file(dir.file("modu.bin"), small_module());
    RunResult r = run({"-m=modu", "-i=bin", "-e", "-o=bin", "-d", "-v"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, banner +
                         "\ttarvel modu.bin  Alloc 294912 [00048020] DATADATA CRC F7C2 Size 44 "
                         "Type 00 Version 0000\n"
                         "Output modu.bin\n & modu.thdExit code 0 Error 0000\n");
    EXPECT_EQ(read_file(dir.file("modu.bin")), small_module());
    EXPECT_FALSE(file_exists(dir.file("modu.thd")));
}

TEST_F(Program, MissingModuleOption)
{
    RunResult r = run({"-v", "-d"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, banner + "Exit code 1 Error 8801\n");
}
