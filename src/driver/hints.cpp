// A failed run explained in words on standard error.
#include "driver/hints.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "byte_order.h"
#include "driver/file_types.h"
#include "driver/option_parser.h"
#include "module_layout.h"
#include "options.h"
#include "platform/file_names.h"
#include "records/hex.h"
#include "state.h"
#include "status.h"

namespace {

constexpr int MAX_HINTS = 2;
int hints_given = 0;
char *hint_words = nullptr;  // where the words go besides standard error
size_t hint_room = 0;

__attribute__((format(printf, 1, 2))) void hint(const char *format, ...)
{
    if (hints_given == MAX_HINTS)
        return;
    hints_given++;
    char line[1024];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fprintf(stderr, "tarvel: %s\n", line);
    size_t used = std::strlen(hint_words);
    std::snprintf(hint_words + used, hint_room - used, "%s%s", used ? "\n" : "", line);
}

unsigned long ul(uint32_t v) { return static_cast<unsigned long>(v); }

// A status that is the C library's error number of a failed open.
bool is_error_number(int32_t status)
{
    return status > STATUS_FAILED && status < 0x1000 && status != STATUS_NO_IMAGE;
}

// The names of the types -i takes (output: -o), "a, b or c", in the order
// --help lists them.
void type_list(char *words, size_t size, bool output)
{
    const FileType *named[16];
    int n = 0;
    for (int order = 0; order <= file_type_count; order++)
        for (int i = 0; i < file_type_count && n < 16; i++) {
            const FileType &t = file_types[i];
            if (output ? t.output_order == order && order > 0 : t.input && order == 0)
                named[n++] = &t;
        }
    words[0] = 0;
    for (int i = 0; i < n; i++) {
        size_t used = std::strlen(words);
        std::snprintf(words + used, size - used, "%s%s", i == 0 ? "" : i + 1 == n ? " or " : ", ",
                      named[i]->name);
    }
}

// ---- The options

// The length of the -m text without a ".type" of an input type it ends
// in (its input is then looked for as path.type.type), or 0.
size_t without_doubled_extension()
{
    size_t n = std::strlen(input_path) - std::strlen(input_ext) - 1;  // the -m text
    for (int i = 0; i < file_type_count; i++) {
        const FileType &t = file_types[i];
        size_t k = std::strlen(t.name);
        if (t.input && n > k + 1 && input_path[n - k - 1] == '.' &&
            !std::strncmp(input_path + n - k, t.name, k))
            return n - k - 1;
    }
    return 0;
}

void explain_option(const Run &run)
{
    const char *arg = run.failed_option ? run.failed_option : "-";
    int letter = option_letter(arg);
    char types[80];
    switch (run.status) {
    case ERR_INPUT_TYPE:
        type_list(types, sizeof types, false);
        hint("-i takes %s", types);
        return;
    case ERR_OUTPUT_TYPE:
        type_list(types, sizeof types, true);
        hint("-o takes %s", types);
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
    if (letter == 'G' && run.status == STATUS_FAILED)
        hint("the info file line printed above has no keyword tarvel knows (tag, name, version, "
             "type, number, SNBR, configuration, CFG, #)");
    else if (letter == 'G' && is_error_number(run.status))
        hint("the info file %s cannot be read: %s", option_value(arg), std::strerror(run.status));
    else if (run.status == STATUS_FAILED)
        hint("%.*s is no option of tarvel; tarvel --help lists them", int(std::strcspn(arg, "=")), arg);
}

// One -l as given: with 0x, without a hex digit, with characters after its
// digits, with more than eight digits where an input takes eight, or set
// for an input that never uses it.
void explain_link_text(const Run &run, const char *value, bool last)
{
    const char *digits = value + std::strspn(value, " \t");
    size_t n = 0;
    while (hex_digit_value(uint8_t(digits[n])) >= 0)
        n++;
    // "-l 8008000": the value is the argument that ended the options.
    const char *next = last && run.stray_argument ? run.stray_argument : "";
    if (!std::strncmp(digits, "0x", 2) || !std::strncmp(digits, "0X", 2))
        hint("-l=%s reads as 00000000: give the hex digits without 0x (-l=%s)", value, digits + 2);
    else if (n == 0 && next[0] != 0)
        hint("-l has no value: write -l=%s, with '=' and without a space", next);
    else if (n == 0)
        hint("-l=%s has no hex digit and reads as 00000000", value);
    else if (digits[n] != 0)
        hint("-l=%s reads as %08lX: only its leading hex digits count", value, ul(parse_hex(value)));
    else if (n - std::strspn(digits, "0") > 8 && !run.load.report.wide_link)
        hint("-l=%s has more than eight significant hex digits and reads as %08lX, its last "
             "eight: only an ELF64 input takes more", value, ul(parse_hex(value)));
    else if ((options & (OPT_IN_BIN | OPT_IN_RAW)) && !(options & (OPT_OUT_THX | OPT_OUT_HEX)))
        hint("-l=%s is not used: a bin or raw input holds no addresses, and only thx and hex "
             "outputs have them", value);
}

void explain_link_options(const Run &run)
{
    int kept = link_count < MAX_LINK_TEXTS ? link_count : MAX_LINK_TEXTS;
    for (int i = 0; i < kept; i++)
        explain_link_text(run, link_texts[i], i + 1 == link_count);
}

// ---- The input file

// What the first bytes of the input say it holds.
Content content_of(const uint8_t *b, int n)
{
    if (n >= 4 && b[0] == 0x7F && b[1] == 'E' && b[2] == 'L' && b[3] == 'F')
        return Content::ELF;
    if (n >= 8 && get_be32(b + HDR_MAGIC) == MODULE_MAGIC)
        return Content::MODULE;
    if (n >= 2 && b[0] == 'S' && b[1] >= '0' && b[1] <= '9')
        return Content::S_RECORDS;
    if (n >= 2 && b[0] == ':' && hex_digit_value(b[1]) >= 0)
        return Content::INTEL_HEX;
    if (n >= 2 && b[0] == 'T' && b[1] >= '0' && b[1] <= '9')
        return Content::T_RECORDS;
    return Content::NONE;
}

// S-record and T-record files are read alike: either content suits either type.
bool record_text(Content c) { return c == Content::S_RECORDS || c == Content::T_RECORDS; }

void explain_input_type(const Run &run)
{
    const FileType *looks = type_for_content(content_of(run.input_head, run.input_head_length));
    Content expected = input_type().content;
    if (!looks || !looks->looks_like || (options & OPT_IN_R9500) || looks->content == expected ||
        (record_text(looks->content) && record_text(expected)))
        return;
    // The name s19 is taken: as a type it is raw data.
    if (!std::strcmp(input_ext, "s19") && looks->content == Content::S_RECORDS)
        hint("%s holds S-records, but -i=s19 reads raw data: give the file a name tarvel reads as "
             "S-records (%s, -i=srec), or in CMake the TYPE abs", input_path,
             replace_extension(input_path, "srec"));
    else
        hint("%s looks like %s; tarvel reads those with -i=%s, from %s", input_path,
             looks->looks_like, looks->name, replace_extension(input_path, looks->name));
}

// ---- Where the data lies

// The input holds text records, where a link address can be wrong.
bool record_text_input()
{
    RecordFormat f = input_type().format;
    return !(options & OPT_IN_R9500) && (f == RecordFormat::S_RECORDS || f == RecordFormat::INTEL_HEX);
}

void explain_misfit(const Run &run)
{
    const LoadReport &r = run.load.report;
    if (!r.has_data) {
        hint("%s holds no data records that tarvel reads", input_path);
        return;
    }
    uint32_t first = r.data_low, last = r.data_high;
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

// -l gave the address in memory of an ELF section that loads elsewhere,
// or of one with no bytes in the file.
bool explain_section(const LoadReport &r)
{
    if (!r.in_section)
        return false;
    unsigned long long at = link_address_wide, loads = r.section.load_address;
    if (r.section.no_bits)
        hint("%08llX is the address of section %s, which has no bytes in the file (memory that "
             "is zeroed when the program starts): no module lies there", at, r.section.name);
    else
        hint("%08llX is the address of section %s in memory; its bytes load at %08llX (use "
             "-l=%llX)", at, r.section.name, loads, loads);
    return true;
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
void explain_module_check(const Run &run)
{
    const uint8_t *m = module_image;
    uint32_t block = image_block_size;
    if (!m || block < HEADER_SIZE)
        return;
    // Nothing was loaded at the link address: the link address is wrong.
    bool erased = true;
    for (uint32_t i = 0; i < HEADER_SIZE; i++)
        erased = erased && m[i] == 0xFF;
    if (erased && record_text_input() && input_type().in_place) {
        explain_misfit(run);
        return;
    }
    if (explain_section(run.load.report))
        return;
    uint32_t size = get_be32(m + HDR_SIZE);
    char words[400] = "";
    int32_t bits = run.status & 0xFF;
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
    const LoadReport &r = run.load.report;
    if ((bits & CHECK_MAGIC) && record_text_input() && r.has_data)
        hint("the data in %s spans %08lX-%08lX; the module's header belongs at the link address "
             "(-l)", input_path, ul(r.data_low), ul(r.data_high));
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

void explain_damaged(const LoadReport &r)
{
    if (r.damaged_line > 0)
        hint("line %llu of %s is damaged (%s): its bytes would be missing from the module; make "
             "the file again", static_cast<unsigned long long>(r.damaged_line), input_path,
             damage_words(r.damage));
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
void explain_unreadable(const Run &run)
{
    if ((options & OPT_IN_RAW) && !info_file_name)
        hint("raw input needs an info file with its header values: -f=file");
    else if ((options & OPT_IN_RAW) && run.info_unreadable)
        hint("the info file %s cannot be read: %s", info_file_name, std::strerror(run.status));
    else
        hint("%s cannot be read: %s", input_path, std::strerror(run.status));
}

void explain_load(const Run &run)
{
    int32_t status = run.status;
    if ((status & ~0xFF) == ERR_MODULE_CHECK) {
        explain_module_check(run);
        return;
    }
    const LoadReport &r = run.load.report;
    switch (status) {
    case ERR_IMAGE_FIT:
        if (options & OPT_IN_RAW)
            hint("the raw data and the CFG records do not fit; a raw file of 1 KiB or more "
                 "leaves no room for CFG records");
        else
            explain_misfit(run);
        break;
    case ERR_RECORD_SUM:
        explain_damaged(r);
        break;
    case ERR_ELF_FILE:
        hint("%s is not an ELF file as a linker writes it, or it is damaged", input_path);
        break;
    case ERR_CRC_NOT_IN_FILE:
        if (!explain_section(r))
            hint("the CRC belongs at the link address %08llX, where %s has no bytes (is -l right?)",
                 static_cast<unsigned long long>(r.wide_link ? link_address_wide : link_address),
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
            explain_unreadable(run);
        break;
    }
}

void explain_command(const Run &run)
{
    if (run.failed_command == 1) {
        if (run.input_kind)
            hint("%s is %s, not a regular file; tarvel reads only regular files (a pipe or a "
                 "device could keep it waiting)", input_path, run.input_kind);
        else if (size_t n = without_doubled_extension(); n > 0)
            hint("%s not found: -m takes the path without its extension (-m=%.*s)", input_path,
                 int(n), input_path);
        else
            hint("%s not found: -m names the module without extension, and -i its type "
                 "(abs unless given)", input_path);
        return;
    }
    if (run.failed_command == 2) {
        explain_load(run);
        return;
    }
    if (run.committed)
        hint("every file was put in place, but a directory could not be written to disk: a "
             "power cut now could undo the renames; run tarvel again");
    else if (run.status == STATUS_RENAME_FAILED)
        hint("the new file could not take the place of %s (is it open in another program?); "
             "%s is as it was", input_path, input_path);
    else
        hint("a file could not be written whole (is the disk full, or the file read-only?); "
             "every file is as it was");
}

}  // namespace

void explain_failure(const Run &run, char *words, size_t size)
{
    hints_given = 0;
    hint_words = words;
    hint_room = size;
    words[0] = 0;
    if (run.failed_command > 0)
        explain_command(run);
    else if (run.failed_option || run.status == ERR_CHECK_WRITES)
        explain_option(run);
    else
        hint("no module given: tarvel -m=[path/]modu ...; tarvel --help lists the options");
    if (run.failed_command >= 2)
        explain_input_type(run);
    explain_link_options(run);
}
