// A failed run explained in words on standard error.
#include "driver/hints.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "byte_order.h"
#include "driver/commands.h"
#include "driver/option_parser.h"
#include "module_layout.h"
#include "options.h"
#include "platform/file_names.h"
#include "platform/input_file.h"
#include "records/hex.h"
#include "records/record_loader.h"
#include "state.h"
#include "status.h"

namespace {

constexpr int MAX_HINTS = 2;
int hints_given = 0;

__attribute__((format(printf, 1, 2))) void hint(const char *format, ...)
{
    if (hints_given == MAX_HINTS)
        return;
    hints_given++;
    std::va_list args;
    va_start(args, format);
    std::fputs("tarvel: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
}

unsigned long ul(uint32_t v) { return static_cast<unsigned long>(v); }

// A status that is the C library's error number of a failed open.
bool is_error_number(int32_t status)
{
    return status > STATUS_FAILED && status < 0x1000 && status != STATUS_NO_IMAGE;
}

// ---- The options

const char *const INPUT_TYPES[] = {"abs", "shx", "hex", "elf", "thx", "bin", "raw", "s19"};

// The -m text of the run ends in ".type" of an input type: its input is
// looked for as path.type.type.
bool doubled_extension()
{
    size_t n = std::strlen(input_path);
    for (const char *type : INPUT_TYPES) {
        // path + "." + type + "." + input_ext
        if (n > 8 && input_path[n - 8] == '.' && !std::strncmp(input_path + n - 7, type, 3))
            return true;
    }
    return false;
}

void explain_option(const Failure &f)
{
    const char *arg = f.failed_arg > 0 && f.failed_arg < f.argc ? f.argv[f.failed_arg] : "-";
    int letter = option_letter(arg);
    switch (f.status) {
    case ERR_INPUT_TYPE:
        hint("-i takes abs, shx, hex, elf, thx, bin, raw or s19");
        return;
    case ERR_OUTPUT_TYPE:
        hint("-o takes thx, bin or hex");
        return;
    case ERR_CHECK_WRITES:
        hint("-k only reads and checks; leave out the options that write, or run without -k");
        return;
    case ERR_CFG_FILE:
    case ERR_WRITE_SHORT:
        hint("generic.tmp cannot be written in the working directory");
        return;
    default:
        break;
    }
    if (letter == 'G' && f.status == STATUS_FAILED)
        hint("the info file line printed above has no keyword tarvel knows (tag, name, version, "
             "type, number, SNBR, configuration, CFG, #)");
    else if (letter == 'G' && is_error_number(f.status))
        hint("the info file %s cannot be read: %s", option_value(arg), std::strerror(f.status));
    else if (f.status == STATUS_FAILED)
        hint("%.*s is no option of tarvel; tarvel --help lists them", int(std::strcspn(arg, "=")), arg);
}

// -l as given: with 0x, without a hex digit, with characters after its
// digits, or set for an input that never uses it.
void explain_link_option(const Failure &f)
{
    for (int i = 1; i < f.argc && f.argv[i][0] == '-'; i++) {
        if (option_letter(f.argv[i]) != 'L')
            continue;
        const char *value = option_value(f.argv[i]);
        const char *digits = value + std::strspn(value, " \t");
        size_t n = 0;
        while (hex_digit_value(uint8_t(digits[n])) >= 0)
            n++;
        const char *next = i + 1 < f.argc ? f.argv[i + 1] : "";
        if (!std::strncmp(digits, "0x", 2) || !std::strncmp(digits, "0X", 2))
            hint("-l=%s reads as 00000000: give the hex digits without 0x (-l=%s)", value, digits + 2);
        else if (n == 0 && next[0] != 0 && next[0] != '-')
            hint("-l has no value: write -l=%s, with '=' and without a space", next);
        else if (n == 0)
            hint("-l=%s has no hex digit and reads as 00000000", value);
        else if (digits[n] != 0)
            hint("-l=%s reads as %08lX: only its leading hex digits count", value, ul(link_address));
        else if (n - std::strspn(digits, "0") > 8 && !load_report.wide_link)
            hint("-l=%s has more than eight significant hex digits and reads as %08lX, its last "
                 "eight: only an ELF64 input takes more", value, ul(link_address));
        else if ((options & (OPT_IN_BIN | OPT_IN_RAW)) && !(options & (OPT_OUT_THX | OPT_OUT_HEX)))
            hint("-l=%s is not used: a bin or raw input holds no addresses, and only thx and hex "
                 "outputs have them", value);
    }
}

// ---- The input file

bool file_readable(const char *path)
{
    FILE *f = std::fopen(path, "r");
    if (f)
        std::fclose(f);
    return f != nullptr;
}

// What the first bytes of the input say it is, as the -i type that reads it.
const char *type_by_content()
{
    FILE *f = input_path ? std::fopen(input_path, "rb") : nullptr;
    if (!f)
        return nullptr;
    uint8_t b[8] = {};
    size_t n = std::fread(b, 1, sizeof b, f);
    std::fclose(f);
    if (n >= 4 && b[0] == 0x7F && b[1] == 'E' && b[2] == 'L' && b[3] == 'F')
        return "elf";
    if (n >= 8 && get_be32(b + HDR_MAGIC) == MODULE_MAGIC)
        return "bin";
    if (n >= 2 && b[0] == 'S' && b[1] >= '0' && b[1] <= '9')
        return "abs";
    if (n >= 2 && b[0] == ':' && hex_digit_value(b[1]) >= 0)
        return "hex";
    if (n >= 2 && b[0] == 'T' && b[1] >= '0' && b[1] <= '9')
        return "thx";
    return nullptr;
}

void explain_input_type()
{
    const char *looks = type_by_content();
    if (!looks)
        return;
    bool s_family = !std::strcmp(input_ext, "abs") || !std::strcmp(input_ext, "shx") ||
                    !std::strcmp(input_ext, "thx");
    bool same = !std::strcmp(looks, input_ext) ||
                (s_family && (!std::strcmp(looks, "abs") || !std::strcmp(looks, "thx")));
    if (same || (options & OPT_IN_R9500))
        return;
    const char *kind = !std::strcmp(looks, "elf")   ? "an ELF file"
                       : !std::strcmp(looks, "bin") ? "a module file"
                       : !std::strcmp(looks, "abs") ? "an S-record file"
                       : !std::strcmp(looks, "hex") ? "an Intel HEX file"
                                                    : "a T-record file";
    hint("%s looks like %s; tarvel reads those with -i=%s, from %s", input_path, kind, looks,
         replace_extension(input_path, looks));
}

// ---- Where the data lies

// Where the data of the record file lies, read anew. False for a file of
// no data, and for input that is no record file.
bool data_extent(uint32_t *low, uint32_t *high)
{
    if (options & (OPT_IN_BIN | OPT_IN_RAW | OPT_IN_ELF))
        return false;
    return record_data_extent(input_path, input_format(), low, high);
}

void explain_misfit()
{
    const LoadReport &r = load_report;
    uint32_t first, last;
    if (!data_extent(&first, &last)) {
        hint("%s holds no data records that tarvel reads", input_path);
        return;
    }
    unsigned long low = ul(first), high = ul(last), link = ul(link_address);
    // Data below the link address and up to it or beyond: a whole flash
    // image, not a wrong link address.
    bool below = r.misfit && r.misfit_low - link_address >= 0x80000000u;
    if (below && last >= link_address)
        hint("a record at %08lX lies below the link address %08lX; the data in %s spans "
             "%08lX-%08lX (-w takes the module out of a file that holds more)",
             ul(r.misfit_low), link, input_path, low, high);
    else if (link_record == 0 && first != link_address)
        hint("no record starts at link address %08lX; the data in %s spans %08lX-%08lX (did you "
             "mean -l=%lX?)", link, input_path, low, high, low);
    else if (r.misfit && !below)
        hint("the record at %08lX-%08lX lies beyond the module image, %lu bytes from the link "
             "address %08lX; the data in %s spans %08lX-%08lX (-w takes the module out of a file "
             "that holds more)", ul(r.misfit_low), ul(r.misfit_high), ul(r.capacity), link,
             input_path, low, high);
    else
        hint("only erased bytes (FF) lie at the link address %08lX; the data in %s spans "
             "%08lX-%08lX", link, input_path, low, high);
}

// Appends a rule's words to a list of them, "; " between two.
__attribute__((format(printf, 3, 4))) void add(char *words, size_t size, const char *format, ...)
{
    size_t used = std::strlen(words);
    if (used > 0 && used + 2 < size)
        std::strcpy(words + used, "; ");
    used = std::strlen(words);
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(words + used, size - used, format, args);
    va_end(args);
}

// The rules of the module check that failed, in words.
void explain_module_check(int32_t status)
{
    const uint8_t *m = module_image;
    uint32_t block = image_block_size;
    if (!m || block < HEADER_SIZE)
        return;
    // Nothing was loaded at the link address: the link address is wrong.
    bool erased = true;
    for (uint32_t i = 0; i < HEADER_SIZE; i++)
        erased = erased && m[i] == 0xFF;
    if (erased && (options & (OPT_IN_NOT_RECORDS | OPT_IN_ELF)) == 0) {
        explain_misfit();
        return;
    }
    uint32_t size = get_be32(m + HDR_SIZE);
    char words[400] = "";
    int32_t bits = status & 0xFF;
    if (bits & CHECK_MAGIC)
        add(words, sizeof words, "magic 87CDF00F not found at the link address (found %08lX)", ul(get_be32(m + HDR_MAGIC)));
    if (bits & CHECK_SIZE_ALIGN)
        add(words, sizeof words, "size %08lX is not a multiple of 4", ul(size));
    if ((bits & CHECK_SIZE_SMALL) && size < MIN_MODULE_SIZE)
        add(words, sizeof words, "size %08lX is below 40", ul(size));
    else if (bits & CHECK_SIZE_SMALL)
        add(words, sizeof words, "size %08lX reaches beyond the %lu bytes of the image", ul(size), ul(block));
    if (bits & CHECK_NAME_OFFSET)
        add(words, sizeof words, "name offset %08lX is not below the size %08lX", ul(get_be32(m + HDR_NAME_OFFSET)), ul(size));
    if (bits & CHECK_TRAILER)
        add(words, sizeof words, "trailer 5A690FF0 missing at offset size-4 (found %08lX)",
            ul(get_be32(m + size - TRAILER_SIZE)));
    hint("the module check failed: %s", words);
    uint32_t first, last;
    if ((bits & CHECK_MAGIC) && data_extent(&first, &last))
        hint("the data in %s spans %08lX-%08lX; the module's header belongs at the link address "
             "(-l)", input_path, ul(first), ul(last));
}

// What was wrong with the damaged record the load met.
const char *damage_words(int32_t damage)
{
    switch (damage) {
    case REC_LINE_END:
        return "a lone CR ends a line inside it; write the file with LF or CR LF line ends";
    case REC_BAD_HEX:
        return "a character in it is no hex digit";
    case REC_CUT_SHORT:
    case REC_BAD_LENGTH:
        return "it is shorter or longer than its count says";
    case REC_BAD_SUM:
        return "its checksum is wrong";
    default:
        return "an S5 record says records were lost before it";
    }
}

void explain_damaged()
{
    if (load_report.damaged_line > 0)
        hint("line %llu of %s is damaged (%s): its bytes would be missing from the module; make "
             "the file again", static_cast<unsigned long long>(load_report.damaged_line),
             input_path, damage_words(load_report.damage));
    else
        hint("a record of %s is damaged (its checksum is wrong or it is cut short): its bytes "
             "would be missing from the module; make the file again", input_path);
}

void explain_stamping(int32_t status)
{
    if (status == ERR_TYPE_BITS)
        hint("a serial number or type text needs a module type with the bits 0x20 and 0x04 "
             "(type=0x24 in the info file)");
    else if (status == ERR_ENTRY_MISSING)
        hint("the module has no \"SNBR\" entry to increment; -s=n sets one");
    else if (status == ERR_ENTRY_LENGTH)
        hint("the entry list holds that entry with another length than tarvel writes");
    else
        hint("the entry list runs past its area, or the new entry has no room in it");
}

// A file that could not be opened: the input, or the info file of raw input.
void explain_unreadable(int32_t status)
{
    if ((options & OPT_IN_RAW) && !info_file_name)
        hint("raw input needs an info file with its header values: -f=file");
    else if ((options & OPT_IN_RAW) && !file_readable(info_file_name))
        hint("the info file %s cannot be read: %s", info_file_name, std::strerror(status));
    else
        hint("%s cannot be read: %s", input_path, std::strerror(status));
}

void explain_load(int32_t status)
{
    if ((status & ~0xFF) == ERR_MODULE_CHECK) {
        explain_module_check(status);
        return;
    }
    switch (status) {
    case ERR_IMAGE_FIT:
        if (options & OPT_IN_RAW)
            hint("the raw data and the CFG records do not fit; a raw file of 1 KiB or more "
                 "leaves no room for CFG records");
        else
            explain_misfit();
        break;
    case ERR_RECORD_SUM:
        explain_damaged();
        break;
    case ERR_ELF_FILE:
        hint("%s is not an ELF file as a linker writes it, or it is damaged", input_path);
        break;
    case ERR_CRC_NOT_IN_FILE:
        hint("the CRC belongs at the link address %08llX, where %s has no bytes (is -l right?)",
             static_cast<unsigned long long>(load_report.wide_link ? link_address_wide : link_address),
             input_path);
        break;
    case ERR_CRC_WRONG:
        hint("the CRC stored in %s is wrong or not set; tarvel without -k sets it", input_path);
        break;
    case ERR_TYPE_BITS:
    case ERR_ENTRY_MISSING:
    case ERR_ENTRY_LENGTH:
    case ERR_ENTRY_ROOM:
        explain_stamping(status);
        break;
    case ERR_READ_SHORT:
        hint("%s could not be read to its end", input_path);
        break;
    case ERR_NO_MEMORY:
    case STATUS_NO_IMAGE:
        hint("%s cannot be sized, or no memory is left for its module", input_path);
        break;
    case ERR_CFG_FILE:
        hint("generic.tmp cannot be read back from the working directory");
        break;
    default:
        if (is_error_number(status))
            explain_unreadable(status);
        break;
    }
}

void explain_command(const Failure &f)
{
    if (f.command == 1) {
        if (const char *kind = special_file_kind(input_path))
            hint("%s is %s, not a regular file; tarvel reads only regular files (a pipe or a "
                 "device could keep it waiting)", input_path, kind);
        else if (doubled_extension())
            hint("%s not found: -m takes the path without its extension (-m=%.*s)", input_path,
                 int(std::strlen(input_path) - 8), input_path);
        else
            hint("%s not found: -m names the module without extension, and -i its type "
                 "(abs unless given)", input_path);
        return;
    }
    if (f.command == 2) {
        explain_load(f.status);
        return;
    }
    if (f.status == STATUS_RENAME_FAILED)
        hint("the new file could not take the place of %s (is it open in another program?); "
             "%s is as it was", input_path, input_path);
    else
        hint("a file could not be written whole (is the disk full, or the file read-only?); "
             "the file it was to replace is as it was");
}

}  // namespace

void explain_failure(const Failure &f)
{
    hints_given = 0;
    if (f.command > 0)
        explain_command(f);
    else if (f.failed_arg > 0 || f.status == ERR_CHECK_WRITES)
        explain_option(f);
    else
        hint("no module given: tarvel -m=[path/]modu ...; tarvel --help lists the options");
    if (f.command >= 2)
        explain_input_type();
    explain_link_option(f);
}
