// The option letters, from the command line and from info-file lines.
#include "driver/option_parser.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/file_types.h"
#include "driver/help.h"
#include "driver/info_file.h"
#include "options.h"
#include "records/hex.h"
#include "state.h"
#include "status.h"

namespace {

// Copies at most PATH_TEXT_MAX characters of text, terminated.
void copy_cut(char *to, const char *text)
{
    std::snprintf(to, PATH_TEXT_MAX + 1, "%s", text);
}

// Copies at most n characters and zero-fills the rest of the n bytes; a text
// of n characters or more leaves no terminator (the tag field has none).
void copy_padded(char *to, const char *text, size_t n)
{
    size_t i = 0;
    for (; i < n && text[i]; i++)
        to[i] = text[i];
    for (; i < n; i++)
        to[i] = 0;
}

// sscanf "%i": decimal, 0x hexadecimal or 0 octal, optional sign. A text
// that is not a number gives 0.
long scan_number(const char *text)
{
    long value = 0;
    if (std::sscanf(text, "%li", &value) != 1)
        value = 0;
    return value;
}

// atoi without its undefined overflow: out-of-range values saturate.
int32_t saturating_decimal(const char *text)
{
    long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return int32_t(value);
}

}  // namespace

int option_letter(const char *arg)
{
    int letter = static_cast<unsigned char>(arg[1]);
    if (letter >= 'a' && letter <= 'z')
        letter -= 'a' - 'A';
    return letter;
}

const char *option_value(const char *arg) { return std::strlen(arg) >= 3 ? arg + 3 : ""; }

int32_t refuse_under_check()
{
    std::printf("Option -k writes nothing: it cannot be combined with -o, -t, -d, -s, -x, -u, -e, "
                "raw input or CFG lines\n");
    return ERR_CHECK_WRITES;
}

int32_t set_file_type(int letter, const char *value)
{
    const FileType *t = find_file_type(value);
    if (letter == 'I') {
        if (!t || !t->input) {
            char name[TYPE_NAME_MAX + 1];
            lower_type_name(value, 3, name);
            std::printf("Input extension %s %s???\n", name, value);
            return ERR_INPUT_TYPE;
        }
        options |= t->input_bit;
        std::snprintf(input_ext, sizeof input_ext, "%s", t->name);
        return STATUS_OK;
    }
    if (letter == 'O') {
        if (!t || t->output_order == 0)
            return ERR_OUTPUT_TYPE;
        options |= t->output_bit;
        std::snprintf(output_ext, sizeof output_ext, "%s", t->name);
        return STATUS_OK;
    }
    return ERR_TYPE_LETTER;
}

int32_t set_option(int letter, const char *value)
{
    switch (letter) {
    case '#':
    case '*':
        break;
    case '?':
    case 'H':
        options |= OPT_HELP;
        break;
    case '@':
        copy_cut(summary.name, value);
        break;
    case 'A':
        copy_padded(reinterpret_cast<char *>(summary.tag), value, sizeof summary.tag);
        break;
    case 'C':
        options |= OPT_FILE_CRC;
        break;
    case 'D':
        options |= OPT_OUT_THD;
        break;
    case 'E':
        options |= OPT_IN_R9500;
        break;
    case 'F':
        copy_cut(info_file_buffer, value);
        info_file_name = info_file_buffer;
        break;
    case 'G':
        return read_info_file(value);
    case 'I':
    case 'O':
        return set_file_type(letter, value);
    case 'K':
        options |= OPT_CHECK;
        break;
    case 'L':
        link_address = parse_hex(value);
        link_address_wide = parse_hex_wide(value);
        if (link_count < MAX_LINK_TEXTS)
            link_texts[link_count] = value;
        link_count++;
        break;
    case 'M':
        options |= OPT_MODULE;
        copy_cut(input_path_buffer, value);
        copy_cut(output_path_buffer, value);
        input_path = input_path_buffer;
        output_path = output_path_buffer;
        break;
    case 'N':
        summary.number = int32_t(scan_number(value) & 0xFF);
        break;
    case 'R': {
        // Held as the module holds it: high byte first.
        unsigned long v = static_cast<unsigned long>(scan_number(value));
        summary.version[0] = uint8_t(v >> 8);
        summary.version[1] = uint8_t(v);
        break;
    }
    case 'S':
        serial_mode = SERIAL_SET;
        if (value[0] == '+') {
            serial_mode = SERIAL_INCREMENT;
        } else {
            long v = 0;
            if (std::sscanf(value, "%ld", &v) != 1)
                v = 0;
            serial_number = int32_t(uint32_t(static_cast<unsigned long>(v)));
        }
        break;
    case 'T':
        options |= OPT_OUT_THX;
        record_size = saturating_decimal(value);
        break;
    case 'U':
        options |= OPT_UPGRADE;
        break;
    case 'V':
        // A JSON report has no progress lines.
        if (!(options & OPT_JSON)) {
            options |= OPT_VERBOSE;
            print_banner();
        }
        break;
    case 'W':
        options |= OPT_WHOLE;
        break;
    case 'X':
        copy_padded(configuration, value, CONFIGURATION_SIZE - 1);
        configuration[CONFIGURATION_SIZE - 1] = 0;
        break;
    case 'Y':
        summary.type = uint8_t(scan_number(value));
        break;
    case 'Z':
        options |= OPT_COMPRESS;
        break;
    case '_':
        if (options & OPT_CHECK)
            return refuse_under_check();
        return write_cfg_record(value);
    default:
        std::printf("Unknown option %c\n", letter);
        return STATUS_FAILED;
    }
    return STATUS_OK;
}
