// The jobs that rewrite a user's file.
#include "fault_jobs.h"

#include <cstdlib>
#include <functional>
#include <map>

#include "builders.h"

namespace {

const std::string EXAMPLES = TARVEL_EXAMPLES;
const std::string ELF_FIXTURES = TARVEL_ELF_FIXTURES;

Bytes example(const char *name) { return read_file(EXAMPLES + "/" + name); }

// What the tool itself makes of inputs with args: the named file afterwards.
Bytes made_by_tool(const Files &inputs, const std::vector<std::string> &args, const std::string &name)
{
    TempDir dir;
    lay_out(dir, inputs);
    run_tarvel(dir.path(), args);
    return read_file(dir.file(name));
}

const Bytes RAW_INFO = "name=Raw data\ntype=0x24\nSNBR=+\nCFG=PORT1 MODE2 3\n";

struct Entry {
    unsigned suites;
    std::function<FaultJob()> make;
};

const std::vector<std::pair<std::string, Entry>> &jobs()
{
    static const std::vector<std::pair<std::string, Entry>> table = {
        {"set_crc", {KILLS | SIGNALS | NO_HARD_LINKS | WRITE_FAULTS | IO_ERRORS, [] {
             return FaultJob{"", {{"modu.abs", example("modu.abs")}}, {"-m=modu", "-l=8000"},
                             "modu.abs", {"modu.bak"}, {}, {}};
         }}},
        {"set_crc_over_old_bak", {KILLS | NO_HARD_LINKS | WRITE_FAULTS, [] {
             return FaultJob{"",
                             {{"modu.abs", example("modu.abs")}, {"modu.bak", "the backup of an earlier run"}},
                             {"-m=modu", "-l=8000", "-v"}, "modu.abs", {"modu.bak"}, {}, {}};
         }}},
        {"abs_to_bin_over_old_bin", {KILLS, [] {
             return FaultJob{"", {{"modu.abs", example("modu.abs")}, {"modu.bin", "an old bin file"}},
                             {"-m=modu", "-l=8000", "-o=bin"}, "modu.bin", {"modu.bak"}, {}, {}};
         }}},
        // In place, and three outputs: every file or none.
        {"abs_with_bin_thx_thd", {KILLS | SIGNALS | WRITE_FAULTS | IO_ERRORS | PLANTED, [] {
             return FaultJob{"", {{"modu.abs", example("modu.abs")}},
                             {"-m=modu", "-l=8000", "-o=bin", "-o=thx", "-d", "-v"}, "modu.abs",
                             {"modu.bak"}, {},
                             {"modu.new", "modu.bin", "modu.thx", "modu.thd", TEMPORARY}};
         }}},
        {"large_abs", {WRITE_FAULTS, [] {
             // Several output pieces long, so that writes also fall short in
             // the middle of the copy, not only when it is flushed.
             return FaultJob{"", {{"modu.abs", s_file(test_module(24000), 0x8000, '3', 32)}},
                             {"-m=modu", "-l=8000"}, "modu.abs", {"modu.bak"}, {}, {}};
         }}},
        {"stamp_bin", {KILLS | WRITE_FAULTS | IO_ERRORS | PLANTED, [] {
             return FaultJob{"", {{"modu.bin", bin_module(snbr(41) + terminator + Bytes(200, '\0'))}},
                             {"-m=modu", "-i=bin", "-s=+", "-x=TYPE1", "-d"}, "modu.bin", {}, {},
                             {"modu.thx", "modu.thd", TEMPORARY}};
         }}},
        {"stamp_raw", {KILLS | WRITE_FAULTS | IO_ERRORS | PLANTED, [] {
             return FaultJob{"",
                             {{"data.raw", snbr(7) + terminator + Bytes(300, '\x33')}, {"info.txt", RAW_INFO}},
                             {"-m=data", "-i=raw", "-f=info.txt", "-o=bin", "-d"}, "data.raw",
                             {"generic.tmp"}, {}, {"generic.tmp", "data.bin", TEMPORARY}};
         }}},
        {"bin_to_bin", {WRITE_FAULTS, [] {
             return FaultJob{"", {{"modu.bin", example("modu.bin")}},
                             {"-m=modu", "-i=bin", "-o=bin", "-d"}, "modu.bin", {}, {}, {}};
         }}},
        {"thx_in_place", {KILLS | WRITE_FAULTS, [] {
             // The tool's own thx output of the sample module, rewritten with
             // records of 32 bytes instead of 16: every record changes.
             Bytes thx = made_by_tool({{"modu.bin", example("modu.bin")}},
                                      {"-m=modu", "-i=bin", "-t=16", "-l=8000"}, "modu.thx");
             return FaultJob{"", {{"modu.thx", thx}}, {"-m=modu", "-i=thx", "-l=8000", "-t=32"},
                             "modu.thx", {}, {}, {}};
         }}},
        {"set_crc_intel_hex", {KILLS | NO_HARD_LINKS, [] {
             return FaultJob{"", {{"modu.hex", ihex_file(example("modu.bin"), 0x8000, 32)}},
                             {"-m=modu", "-i=hex", "-l=8000"}, "modu.hex", {"modu.bak"}, {}, {}};
         }}},
        {"intel_hex_in_place", {KILLS | WRITE_FAULTS | IO_ERRORS, [] {
             // Patched in place, then replaced by the tool's own Intel HEX output.
             Bytes text = ihex_file(example("modu.bin"), 0x8000, 32);
             Bytes patched = made_by_tool({{"modu.hex", text}}, {"-m=modu", "-i=hex", "-l=8000"}, "modu.hex");
             return FaultJob{"", {{"modu.hex", text}, {"modu.bak", "the backup of an earlier run"}},
                             {"-m=modu", "-i=hex", "-l=8000", "-o=hex"}, "modu.hex", {"modu.bak"},
                             {{"modu.hex", patched}}, {}};
         }}},
        {"large_intel_hex", {WRITE_FAULTS, [] {
             return FaultJob{"", {{"modu.hex", ihex_file(test_module(24000), 0x8000, 32, "\r\n")}},
                             {"-m=modu", "-i=hex", "-l=8000"}, "modu.hex", {"modu.bak"}, {}, {}};
         }}},
        {"large_intel_hex_in_place", {WRITE_FAULTS, [] {
             return FaultJob{"",
                             {{"modu.hex", ihex_file(test_module(24000), 0x8000, 32, "\r\n")},
                              {"modu.bak", "old bak"}},
                             {"-m=modu", "-i=hex", "-l=8000", "-o=hex"}, "modu.hex", {"modu.bak"}, {}, {}};
         }}},
        {"set_crc_elf", {KILLS | SIGNALS | NO_HARD_LINKS | WRITE_FAULTS | IO_ERRORS, [] {
             return FaultJob{"", {{"modu.elf", read_file(ELF_FIXTURES + "/cortex_m.elf")}},
                             {"-m=modu", "-i=elf", "-l=8008000"}, "modu.elf", {"modu.bak"}, {}, {}};
         }}},
        // Both modules of the fixture, found without -l, set in one file.
        {"every_module_elf", {KILLS | SIGNALS | WRITE_FAULTS | IO_ERRORS, [] {
             return FaultJob{"", {{"modu.elf", read_file(ELF_FIXTURES + "/cortex_m.elf")}},
                             {"-m=modu", "-i=elf"}, "modu.elf", {"modu.bak"}, {}, {}};
         }}},
        {"every_module_srec", {KILLS | NO_HARD_LINKS | IO_ERRORS, [] {
             // The fixture's two segments that hold modules, as S3 records.
             const Bytes elf = read_file(ELF_FIXTURES + "/cortex_m.elf");
             std::string text = s_file(elf.substr(0x114, 0x130), 0x08008000, '3', 16);
             for (uint32_t at = 0; at < 0x40; at += 16)
                 text.insert(text.rfind("S7"), s_data('3', 0x0800C000 + at, elf.substr(0x248 + at, 16)) + "\n");
             return FaultJob{"", {{"modu.srec", text}}, {"-m=modu", "-i=srec", "-w"}, "modu.srec",
                             {"modu.bak"}, {}, {}};
         }}},
    };
    return table;
}

}  // namespace

std::vector<std::string> fault_job_names(unsigned suite)
{
    std::vector<std::string> names;
    for (const auto &[name, entry] : jobs())
        if (entry.suites & suite)
            names.push_back(name);
    return names;
}

FaultJob fault_job(const std::string &name)
{
    for (const auto &[entry_name, entry] : jobs()) {
        if (entry_name != name)
            continue;
        FaultJob job = entry.make();
        job.name = name;
        return job;
    }
    return {};
}

bool is_leftover(const std::string &name)
{
    bool temporary = name.rfind(".tarvel-", 0) == 0 && name.size() > 4 &&
                     name.compare(name.size() - 4, 4, ".tmp") == 0;
    return temporary || (name.size() > 4 && name.compare(name.size() - 4, 4, ".new") == 0);
}

bool strace_available() { return std::system("strace -V > /dev/null 2>&1") == 0; }
