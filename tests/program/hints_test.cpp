// Failed runs explained in words on standard error, while standard output
// and the exit code stay as they always were; a run that succeeds explains
// nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builders.h"
#include "fixtures.h"
#include "test_support.h"

namespace {

const Bytes SAMPLE = read_file(std::string(TARVEL_EXAMPLES) + "/modu.bin");

// The sample module as S-records at another address than the -l of a row.
const std::string FAR = s_file(SAMPLE, 0x08008000, '3', 32);

std::string with_record(uint32_t address)
{
    std::string text = s_file(SAMPLE, 0x8000, '1', 32);
    return text.insert(text.rfind("S9"), s_data('1', address, Bytes(16, 'x')) + "\n");
}

Bytes odd_size()
{
    Bytes m = SAMPLE;
    m[10] = 0;
    m[11] = 0x3A;
    return m;
}

struct Row {
    Files files;
    std::vector<std::string> args;
    std::string out;  // standard output, as before these words existed
    std::string err;
};

}  // namespace

class Hints : public ProgramTest {};

TEST_F(Hints, EveryFailureSaysWhatWasWrong)
{
    const std::string NOTHING = "\ttarvel modu.abs  \xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF CRC 01A4 Size -1 "
                                "Type ff Version FFFF\n";
    const std::string SAMPLE_LINE = "\ttarvel modu.abs  EXAMPLE1 CRC ADAA Size 256 Type 00 Version 0102\n";
    const std::string NO_FIT = "Error 8003, errno 0 in batchfile command 2\n";
    const std::string SPAN = "the data in modu.abs spans 08008000-080080FF";
    const std::string NO_MODULE = "no module given: tarvel -m=[path/]modu ...; tarvel --help lists "
                                  "the options\n";
    const std::string W = " (-w takes the module out of a file that holds more)\n";
    const std::string ELF = read_file(std::string(TARVEL_ELF_FIXTURES) + "/cortex_m.elf");
    auto NO_CRC_AT = [](const std::string &link) {
        return "\ttarvel modu.elf No segment of modu.elf holds the CRC at link address " + link +
               ", Aborting\n \xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF CRC 01A4 Size -1 Type ff Version "
               "FFFF\nError 8011, errno 0 in batchfile command 2\n";
    };
    Row rows[] = {
        {{{"modu.abs", FAR}}, {"-m=modu", "-l=8000"}, NOTHING + NO_FIT,
         "no record starts at link address 00008000; " + SPAN + " (did you mean -l=8008000?)\n"},
        {{{"modu.abs", FAR}}, {"-m=modu", "-l=0x8008000"}, NOTHING + NO_FIT,
         "no record starts at link address 00000000; " + SPAN + " (did you mean -l=8008000?)\n"
         "tarvel: -l=0x8008000 reads as 00000000: give the hex digits without 0x (-l=8008000)\n"},
        {{{"modu.abs", FAR}}, {"-m=modu", "-l", "8008000"}, NOTHING + NO_FIT,
         "no record starts at link address 00000000; " + SPAN + " (did you mean -l=8008000?)\n"
         "tarvel: -l has no value: write -l=8008000, with '=' and without a space\n"},
        {{{"modu.abs", FAR}}, {"-m=modu", "-l=8000h"}, NOTHING + NO_FIT,
         "no record starts at link address 00008000; " + SPAN + " (did you mean -l=8008000?)\n"
         "tarvel: -l=8000h reads as 00008000: only its leading hex digits count\n"},
        {{{"modu.abs", with_record(0x7FF0)}}, {"-m=modu", "-l=8000"}, SAMPLE_LINE + NO_FIT,
         "a record at 00007FF0 lies below the link address 00008000; the data in modu.abs spans "
         "00007FF0-000080FF" + W},
        {{{"modu.abs", FAR}}, {"-m=modu", "-l=8008010"}, NOTHING + NO_FIT,
         "a record at 08008000 lies below the link address 08008010; " + SPAN + W},
        {{{"modu.abs", FAR}}, {"-m=modu", "-l=100008000"}, NOTHING + NO_FIT,
         "no record starts at link address 00008000; " + SPAN + " (did you mean -l=8008000?)\n"
         "tarvel: -l=100008000 has more than eight significant hex digits and reads as 00008000, "
         "its last eight: only an ELF64 input takes more\n"},
        {{{"modu.abs", with_record(0x9000)}}, {"-m=modu", "-l=8000"}, SAMPLE_LINE + NO_FIT,
         "the record at 00009000-0000900F lies beyond the module image, 1028 bytes from the link "
         "address 00008000; the data in modu.abs spans 00008000-0000900F" + W},
        {{{"modu.abs", FAR}}, {"-m=modu.abs", "-l=8008000"},
         "Unable to open input file modu.abs.abs\nError 1, errno 2 in batchfile command 1\n",
         "modu.abs.abs not found: -m takes the path without its extension (-m=modu)\n"},
        {{}, {}, "", NO_MODULE},
        {{}, {"-l=8000", "-z"}, "", NO_MODULE},
        {{{"modu.bin", odd_size()}}, {"-m=modu", "-i=bin", "-o=bin", "-l=8000"},
         "\ttarvel modu.bin  EXAMPLE1 CRC 135C Size 58 Type 00 Version 0102\n"
         "Module format problem 8C04 0000003A E90E3358\nError 8c04, errno 0 in batchfile command 2\n",
         "the module check failed: size 0000003A is not a multiple of 4\n"
         "tarvel: -l=8000 is not used: a bin or raw input holds no addresses, and only thx and "
         "hex outputs have them\n"},
        {{{"modu.bin", FAR}}, {"-m=modu", "-i=bin"},
         "\ttarvel modu.bin  50800800 CRC 5AB4 Size 876098612 Type 35 Version 3332\n"
         "Module format problem 8C0A 34383434 FFFFFFFF\nError 8c0a, errno 0 in batchfile command 2\n",
         "the module check failed: magic 87CDF00F not found at the link address (found "
         "30303030); size 34383434 reaches beyond the 1056 bytes of the image\n"
         "tarvel: modu.bin looks like an S-record file; tarvel reads those with -i=abs, from "
         "modu.abs\n"},
        {{{"modu.abs", ELF}},
         {"-m=modu", "-l=8008000"},
         NOTHING + "Module format problem 8C0E FFFFFFFF FFFFFFFF\nError 8c0e, errno 0 in batchfile command 2\n",
         "modu.abs holds no data records that tarvel reads\n"
         "tarvel: modu.abs looks like an ELF file; tarvel reads those with -i=elf, from modu.elf\n"},
        {{{"modu.elf", ELF}}, {"-m=modu", "-i=elf", "-l=20000000"}, NO_CRC_AT("20000000"),
         "20000000 is the address of section .data in memory; its bytes load at 08008130 (use "
         "-l=8008130)\n"},
        {{{"modu.elf", ELF}}, {"-m=modu", "-i=elf", "-l=20000004"}, NO_CRC_AT("20000004"),
         "20000004 is the address of section .bss, which has no bytes in the file (memory that is "
         "zeroed when the program starts): no module lies there\n"},
        {{{"modu.s19", FAR}}, {"-m=modu", "-i=s19", "-f=none.inf"},
         "\ttarvel modu.s19           CRC 0000 Size 0 Type 00 Version 0000\n"
         "Error 2, errno 2 in batchfile command 2\n",
         "the info file none.inf cannot be read: No such file or directory\ntarvel: modu.s19 holds "
         "S-records, but -i=s19 reads raw data: give the file a name tarvel reads as S-records "
         "(modu.srec, -i=srec), or in CMake the TYPE abs\n"},
        {{}, {"-m=modu", "-q"}, "Unknown option Q\n",
         "-q is no option of tarvel; tarvel --help lists them\n"},
        {{{"modu.abs", FAR}}, {"-m=modu", "-l=8008000"}, SAMPLE_LINE, ""},
    };
    for (const Row &row : rows) {
        lay_out(dir, row.files);
        RunResult r = run(row.args);
        std::string what = row.args.empty() ? "no arguments" : row.args.back();
        EXPECT_EQ(r.out, row.out) << what;
        EXPECT_EQ(r.exit_code, row.err.empty() ? 0 : 1) << what;
        EXPECT_EQ(r.err, row.err.empty() ? "" : "tarvel: " + row.err) << what;
    }
}
