// The banner and the help text.
#include "driver/help.h"

#include <cstdio>

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
