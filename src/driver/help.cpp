// The banner and the help text.
#include "driver/help.h"

#include <cstdio>
#include <cstring>

#include "driver/file_types.h"

#include "version.h"

static const char *const help_lines[] = {
    "Tarvel - Set CRC of Module * V" TARVEL_VERSION " " TARVEL_RELEASE_DATE,
    " Use : tarvel -m=[path/]modu [-l=link_address] [-t=rec_size] [-i=abs] [-o=thx]",
    "[-u] [-v] [-z] [-f=file.cmd]",
    " Tarvel builds the module in memory and calculates the CRC-16.",
    " The CRC is added to the file and rewritten to modu.abs.",
    " Other conversions : - shx, thx, bin, raw -> thx, [thd,] bin",
    " The memory is preset to 0xFF - flash compatibility",
    " -c : crc on input file               -d : output thd file",
    " -f : info file for raw input mode    -e : input is r9500 file",
    "      Syntax ( one command/line ) :   -? -h : help",
    "       tag=DATA",
    "       name=Data file for appli XYZ",
    "       type=10",
    "       version=0",
    "       number=33",
    " -i : input file type : abs,shx,thx,bin,raw/s19",
    " -l : hex code link address of the input file",
    " -o : output file type : thx, bin",
    " -s : update serial number            -t : decimal record size of thx",
    " -u : upgrade old module format to current",
    " -v : verbose mode                    -z : compress",
};

void print_banner() { std::printf("%s\n", help_lines[0]); }

void print_help()
{
    for (const char *line : help_lines)
        std::printf("%s\n", line);
}

namespace {

// The usage that --help prints: every option, the file types and the files.
const char *const usage_lines[] = {
    "Usage: tarvel -m=[path/]modu [option ...]",
    "Sets the CRC-16 of a firmware module in its file, converts modules between",
    "file types, packages raw data into a module, and stamps serial numbers.",
    "Options are -X=value; the letter may be of either case.",
    "",
    "  -m=path    the module: its path without extension; the files are path.<type>",
    nullptr,  // the types -i and -o take, from the table of file types
    "             bin and thx input write thx unless -o says otherwise",
    "  -l=hex     link address: where the module's first byte lies, hex digits without 0x",
    "             (ELF input and -w: each -l takes a module; without -l, all are found)",
    "  -w         the file holds more than the module (a whole flash image): only the",
    "             module's bytes are read, and the CRC is set wherever it lies",
    "  -k         check the stored CRC and write nothing; exit 1 when it is wrong or unset",
    "  -t=n       data bytes per T-record of the thx output, 1 to 250 (0: 247)",
    "  -d         also write path.thd, the 20-byte summary of the module",
    "  -e         the input is an r9500 record file: load and summarise it only",
    "  -u         upgrade a module of the old 28-byte-header layout",
    "  -s=n -s=+  set the serial number (\"SNBR\" entry) to n, or add one to it",
    "  -x=text    the type text (\"_TYP\" entry), at most 11 characters",
    "  -f=file    the info file of raw input: keyword=value lines",
    "  -g=file    read an info file at this point of the options",
    "  -a=tag -n=n -r=n -y=n -@=name   header tag, number, version, type and name",
    "  -_=cfg     a CFG line: append a \"_CFG\" record to generic.tmp",
    "  -c         print the size and CRC of the file -m names (no extension added)",
    "  -v         verbose: the banner, progress lines and the exit line",
    "  -z         accepted, no effect; -# and -* likewise (info-file comments)",
    "  -h -?      print the short help when the run fails",
    "  --json     print one JSON document instead of the text lines (no raw input)",
    "  --help     this text; --version  the release",
    "",
    "Files: path.elf and the S-record and Intel HEX files are set in place: path.new",
    "is written and synced, the old file is kept as path.bak, and path.new takes its",
    "name in one rename. path.thx, .bin, .hex and .thd are written whole under a",
    "temporary name and renamed into place. generic.tmp in the working directory",
    "collects the CFG records of an info file.",
    "Exit code 0 on success and 1 on failure: the reason is on standard output,",
    "explained in words on standard error. man tarvel has the details.",
};

// The input types, those of one meaning on one line ("a or b", "a, b or
// c"), and the output types.
void print_types()
{
    const char *lead = "  -i=type    input type: ";
    for (int i = 0; i < file_type_count; i++) {
        const FileType &t = file_types[i];
        auto same = [&](int j) {
            return file_types[j].input && !std::strcmp(file_types[j].input_words, t.input_words);
        };
        if (!t.input || (i > 0 && same(i - 1)))
            continue;
        int last = i;
        while (last + 1 < file_type_count && same(last + 1))
            last++;
        char names[48] = "";
        for (int j = i; j <= last; j++)
            std::snprintf(names + std::strlen(names), sizeof names - std::strlen(names), "%s%s",
                          j == i ? "" : j == last ? " or " : ", ", file_types[j].name);
        int width = std::strlen(names) < 11 ? 11 : int(std::strlen(names)) + 1;
        std::printf("%s%-*s %s\n", lead, width, names, t.input_words);
        lead = "                         ";
    }
    std::printf("  -o=type    output type:");
    for (int order = 1; order <= file_type_count; order++)
        for (int i = 0; i < file_type_count; i++)
            if (file_types[i].output_order == order)
                std::printf("%s %s (%s)", order > 1 ? "," : "", file_types[i].name,
                            file_types[i].output_words);
    std::printf(";\n");
}

}  // namespace

void print_usage()
{
    for (const char *line : usage_lines) {
        if (line)
            std::printf("%s\n", line);
        else
            print_types();
    }
}

void print_version() { std::printf("tarvel %s\n", TARVEL_VERSION); }
