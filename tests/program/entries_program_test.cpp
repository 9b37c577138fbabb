// The whole tool on serial numbers, type texts, raw packaging with info
// files, and the upgrade of old modules.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "builders.h"
#include "fixtures.h"
#include "test_support.h"
#include "version.h"

namespace {

// The module that raw packaging builds from info_text around an entry list
// holding "SNBR" n, with the record of "CFG=PORT1 MODE2 -1" behind it.
Bytes raw_module(uint32_t n, const std::string &crc_hex)
{
    Bytes cfg = Bytes("_CFG") + Bytes(4, '\0') + be32(24) + "PORT1" + Bytes(3, '\0') + "MODE2" +
                Bytes(3, '\0') + hex_bytes("FF FF FF FF");
    return hex_bytes(crc_hex + " 7F FF 87 CD F0 0F") + be32(108) +
           hex_bytes("24 00 00 00 00 00 00 00") + "DATA" + Bytes(4, '\0') + be32(36) + be32(44) +
           "Data" + Bytes(4, '\0') + snbr(n) + terminator + cfg + trailer;
}

const Bytes info_text = "tag=DATA\r\nname=Data\r\ntype=0x24\r\nCFG=PORT1 MODE2 -1\r\n";

// S1 record at address with the given bytes, with its checksum.
std::string s1_line(uint16_t address, const Bytes &data)
{
    std::string line = "S1";
    unsigned sum = 0;
    auto put = [&](unsigned byte) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", byte & 0xFF);
        line += hex;
        sum += byte & 0xFF;
    };
    put(unsigned(data.size() + 3));
    put(address >> 8);
    put(address);
    for (char c : data)
        put(static_cast<unsigned char>(c));
    put(~sum);
    return line + "\n";
}


}  // namespace

class EntriesProgram : public ProgramTest {};

TEST_F(EntriesProgram, SerialNumbersInAModuleFile)
{
    // Room for the entry: a terminator and unused bytes in front of the trailer.
    write_file(dir.file("modu.bin"), bin_module(terminator + Bytes(16, '\0')));
    const std::vector<std::string> args = {"-m=modu", "-i=bin", "-o=bin", "-d"};
    const struct {
        const char *option;
        uint32_t number;
        const char *crc;
    } runs[] = {{"-s=5", 5, "82 A4"}, {"-s=+", 6, "72 54"}, {"-s=+", 7, "23 C4"}};
    for (const auto &r : runs) {
        std::vector<std::string> with = args;
        with.push_back(r.option);
        RunResult result = run(with);
        std::string crc = std::string(r.crc).erase(2, 1);
        EXPECT_EQ(result.exit_code, 0) << r.number;
        EXPECT_EQ(result.out, "\ttarvel modu.bin  DATADATA CRC " + crc +
                                  " Size 72 Type 24 Version 0000\n serial number " +
                                  std::to_string(r.number));
        Bytes stamped = bin_module(snbr(r.number) + terminator, r.crc);
        EXPECT_EQ(read_file(dir.file("modu.bin")), stamped);
        EXPECT_EQ(read_file(dir.file("modu.thd")), "DATADATA" + hex_bytes("00 00") +
                                                       hex_bytes(r.crc) + be32(72) +
                                                       hex_bytes("24 00 00 00"));
    }

    // The type text needs room too: here the file is left as it was.
    RunResult result = run({"-m=modu", "-i=bin", "-o=bin", "-s=+", "-x=TYPE"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "\ttarvel modu.bin  DATADATA CRC 23C4 Size 72 Type 24 Version 0000\n"
                          "Error 8009, errno 0 in batchfile command 2\n");
    EXPECT_EQ(read_file(dir.file("modu.bin")), bin_module(snbr(7) + terminator, "23 C4"));
    EXPECT_EQ(files_in(dir.path()).size(), 2u);  // modu.bin and modu.thd: no temporary file left
}

TEST_F(EntriesProgram, SerialNumbersInARawFile)
{
    write_file(dir.file("data.raw"), "");
    write_file(dir.file("info.txt"), info_text);
    const struct {
        const char *option;
        uint32_t number;
        const char *crc;
    } runs[] = {{"-s=5", 5, "AE 46"}, {"-s=+", 6, "D9 31"}, {"-s=+", 7, "F5 DC"}};
    for (const auto &r : runs) {
        RunResult result = run({"-m=data", "-i=raw", "-f=info.txt", "-o=bin", "-d", r.option});
        std::string crc = std::string(r.crc).erase(2, 1);
        EXPECT_EQ(result.exit_code, 0) << r.number;
        EXPECT_EQ(result.out, "\ttarvel data.raw      DATA CRC " + crc +
                                  " Size 108 Type 24 Version 0000\n serial number " +
                                  std::to_string(r.number));
        EXPECT_EQ(read_file(dir.file("data.raw")), snbr(r.number) + terminator);
        EXPECT_EQ(read_file(dir.file("data.bin")), raw_module(r.number, r.crc));
        EXPECT_EQ(read_file(dir.file("data.thd")), Bytes("DATA") + Bytes(4, '\0') +
                                                       hex_bytes("00 00") + hex_bytes(r.crc) +
                                                       be32(108) + hex_bytes("24 00 00 00"));
        EXPECT_EQ(read_file(dir.file("generic.tmp")).size(), 32u);
    }

    // The type text is appended behind the serial number, 11 characters kept.
    RunResult result = run({"-m=data", "-i=s19", "-f=info.txt", "-o=bin", "-x=ABCDEFGHIJKLMNO"});
    EXPECT_EQ(result.exit_code, 1);  // "s19" is raw input under its own name
    EXPECT_EQ(result.out, "Unable to open input file data.s19\n"
                          "Error 1, errno 2 in batchfile command 1\n");
    std::rename(dir.file("data.raw").c_str(), dir.file("data.s19").c_str());
    result = run({"-m=data", "-i=s19", "-f=info.txt", "-o=bin", "-x=ABCDEFGHIJKLMNO"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "\ttarvel data.s19      DATA CRC 0406 Size 132 Type 24 Version 0000\n");
    Bytes typ = Bytes("_TYP") + Bytes(4, '\0') + be32(12) + "ABCDEFGHIJK" + Bytes(1, '\0');
    EXPECT_EQ(read_file(dir.file("data.s19")), snbr(7) + typ + terminator);
    EXPECT_EQ(read_file(dir.file("data.bin")).substr(44, 52), snbr(7) + typ + terminator);
}

TEST_F(EntriesProgram, AFailedRawRunLeavesTheSerialNumber)
{
    // 1528 bytes of raw data leave no room for the CFG record: the run fails
    // after the stamping, and the raw file keeps the number it had.
    Bytes raw = snbr(41) + terminator + Bytes(1500, 'r');
    write_file(dir.file("data.raw"), raw);
    write_file(dir.file("info.txt"), "name=Raw\ntype=0x24\nCFG=PORT1 MODE2 3\n");
    RunResult result = run({"-m=data", "-i=raw", "-f=info.txt", "-s=+", "-o=bin"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out.substr(result.out.rfind("Error")), "Error 8003, errno 0 in batchfile command 2\n");
    EXPECT_EQ(read_file(dir.file("data.raw")), raw);
    EXPECT_FALSE(file_exists(dir.file("data.bin")));
}

TEST_F(EntriesProgram, NamesAsLongAsTheFileSystemTakes)
{
    // 250 characters and the extension: every output, and stamping a bin
    // and a raw file, under such a name; nothing else is left.
    const std::string name(250, 'n');
    write_file(dir.file(name + ".bin"), bin_module(snbr(41) + terminator));
    write_file(dir.file("info.txt"), info_text);
    for (const char *out : {"-o=bin", "-o=thx", "-o=hex"}) {
        RunResult r = run({"-m=" + name, "-i=bin", out, "-d", "-l=8000", "-s=+"});
        EXPECT_EQ(r.exit_code, 0) << out << r.out;
    }
    write_file(dir.file(name + ".raw"), snbr(7) + terminator);
    RunResult raw = run({"-m=" + name, "-i=raw", "-f=info.txt", "-s=+", "-o=thx"});
    EXPECT_EQ(raw.exit_code, 0) << raw.out;
    EXPECT_EQ(read_file(dir.file(name + ".raw")), snbr(8) + terminator);
    std::set<std::string> names;
    for (const auto &[file, content] : files_in(dir.path()))
        names.insert(file);
    EXPECT_EQ(names, (std::set<std::string>{name + ".bin", name + ".thd", name + ".thx",
                                            name + ".hex", name + ".raw", "info.txt",
                                            "generic.tmp"}));
    EXPECT_EQ(read_file(dir.file(name + ".bin")).substr(40, 16), snbr(44));
}

TEST_F(EntriesProgram, InfoFileRefusalsAndCommandLineRecords)
{
    write_file(dir.file("data.raw"), "12345");
    write_file(dir.file("info.txt"), "name=A\nnumber\n");
    RunResult result = run({"-m=data", "-i=raw", "-f=info.txt", "-o=bin", "-v"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "Tarvel - Set CRC of Module * V" TARVEL_VERSION " " TARVEL_RELEASE_DATE "\n"
                          "\ttarvel data.raw  Alloc 1028 [00000540]Unknown option \xFF\nnumber\n"
                          "          CRC 0000 Size 0 Type 00 Version 0000\n"
                          "Error 1, errno 0 in batchfile command 2\n"
                          "Exit code 1 Error 0001\n");
    result = run({"-m=data", "-i=raw", "-o=bin"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "\ttarvel data.raw           CRC 0000 Size 0 Type 00 Version 0000\n"
                          "Error 2, errno 2 in batchfile command 2\n");

    // A record given on the command line joins the module; -g reads an
    // info file at once.
    write_file(dir.file("info.txt"), "name=A\n");
    result = run({"-_=ONE 1", "-m=data", "-i=raw", "-f=info.txt", "-o=bin"});
    EXPECT_EQ(result.exit_code, 0);
    Bytes cfg = Bytes("_CFG") + Bytes(4, '\0') + be32(24) + "ONE" + Bytes(5, '\0') + "1" +
                Bytes(7, '\0') + be32(24);
    EXPECT_EQ(read_file(dir.file("generic.tmp")), cfg);
    EXPECT_EQ(read_file(dir.file("data.bin")).substr(40), "12345" + Bytes(3, '\0') + cfg + trailer);
    write_file(dir.file("other.txt"), "CFG=TWO 2\n");
    result = run({"-g=other.txt", "-_=THREE 3", "-m=data", "-i=raw", "-f=info.txt", "-o=bin"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(read_file(dir.file("generic.tmp")).size(), 64u);
    EXPECT_EQ(read_file(dir.file("data.bin")).substr(48, 64), read_file(dir.file("generic.tmp")));
}

TEST_F(EntriesProgram, UpgradedModuleReachesTheOutputs)
{
    write_file(dir.file("old.bin"), old_module);
    RunResult result = run({"-m=old", "-i=bin", "-u", "-o=bin", "-d"});
    EXPECT_EQ(result.exit_code, 0);
    // The summary line shows the module as loaded.
    EXPECT_EQ(result.out, "\ttarvel old.bin           CRC E954 Size 40 Type 00 Version 4344\n");
    EXPECT_EQ(read_file(dir.file("old.bin")), upgraded_module);
    EXPECT_EQ(read_file(dir.file("old.thd")),
              hex_bytes("41 42 43 44 00 00 00 00 01 02 CB 10 00 00 00 30 00 00 00 00"));

    // Stamping is not combined with the upgrade.
    Bytes stampable = old_module;
    stampable[12] = 0x24;
    write_file(dir.file("old.bin"), stampable);
    result = run({"-m=old", "-i=bin", "-u", "-o=bin", "-s=1"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "\ttarvel old.bin Serial number and upgrade cannot be combined\n"
                          "          CRC BC94 Size 40 Type 24 Version 4344\n"
                          "Error 8009, errno 0 in batchfile command 2\n");
    EXPECT_EQ(read_file(dir.file("old.bin")), stampable);
}

// An S-record file keeps the layout it was
// loaded in, so it gets the CRC of the module as loaded, while the outputs
// get the converted module.
TEST_F(EntriesProgram, UpgradeOfRecordInputPatchesTheLoadedCrc)
{
    const std::string abs = s1_line(0, old_module) + "S9030000FC\n";
    write_file(dir.file("modu.abs"), abs);
    RunResult result = run({"-m=modu", "-u", "-o=bin"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "\ttarvel modu.abs           CRC E954 Size 40 Type 00 Version 4344\n");
    Bytes patched = old_module;
    patched.replace(0, 2, hex_bytes("E9 54"));
    EXPECT_EQ(read_file(dir.file("modu.abs")), s1_line(0, patched) + "S9030000FC\n");
    EXPECT_EQ(read_file(dir.file("modu.bak")), abs);
    EXPECT_EQ(read_file(dir.file("modu.bin")), upgraded_module);
}
