// The argument loop and the nine batch commands.
#include "driver/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/file_names.h"
#include "driver/help.h"
#include "driver/option_parser.h"
#include "module/crc16.h"
#include "module/image_builder.h"
#include "options.h"
#include "records/patch_copy.h"
#include "records/thd_bin.h"
#include "records/thx_writer.h"
#include "state.h"
#include "status.h"

namespace {

constexpr int COMMAND_COUNT = 9;

bool verbose() { return options & OPT_VERBOSE; }

// Names derived from input_path that must survive later replace_extension calls.
struct SiblingName {
    char text[PATH_BUFFER_SIZE + 8];
};

SiblingName sibling(const char *ext)
{
    SiblingName s;
    std::snprintf(s.text, sizeof s.text, "%s", replace_extension(input_path, ext));
    return s;
}

int32_t list_outputs()
{
    if (verbose() && (options & (OPT_OUT_BIN | OPT_OUT_THX))) {
        std::printf("Output %s\n", replace_extension(input_path, output_ext));
        if (options & OPT_OUT_THD)
            std::printf(" & %s", replace_extension(input_path, "thd"));
    }
    if (options & (OPT_IN_BIN | OPT_IN_THX | OPT_IN_RAW)) {
        if ((options & (OPT_IN_BIN | OPT_IN_RAW)) && serial_mode != SERIAL_NONE)
            std::printf(" serial number %ld", long(serial_number));
        return STATUS_OK;
    }
    // Record input: the old bak file goes, so that command 5 can move the
    // input file to that name.
    SiblingName bak = sibling("bak");
    int rc = std::remove(bak.text);
    int err = errno;
    if (verbose())
        std::printf("%d unlink %s\n", rc == 0 ? 0 : err, bak.text);
    return STATUS_OK;
}

int32_t rename_verbose(const char *from, const char *to)
{
    int32_t rc = std::rename(from, to) == 0 ? 0 : STATUS_RENAME_FAILED;
    if (verbose())
        std::printf("%d rename %s %s\n", int(rc), from, base_name(to));
    return rc;
}

}  // namespace

int32_t check_input_file(const char *path)
{
    if (FILE *f = std::fopen(path, "r")) {
        // Linux opens a directory, which Windows refuses; its first read
        // fails, and it is then no input file on either system.
        bool readable = std::fgetc(f) != EOF || !std::ferror(f);
        int err = errno;
        std::fclose(f);
        if (readable)
            return STATUS_OK;
        errno = err;
    } else if (!std::strcmp(input_ext, "raw")) {
        return STATUS_OK;
    }
    std::printf("Unable to open input file %s\n", path);
    return STATUS_FAILED;
}

int32_t run_command(int number)
{
    bool records_input = !(options & OPT_IN_NOT_RECORDS);
    bool outputs = !(options & OPT_IN_R9500);
    switch (number) {
    case 1:
        return check_input_file(input_path);
    case 2:
        std::printf("\ttarvel %s ", input_path);
        return build_image();
    case 3:
        return list_outputs();
    case 4:
        if (!records_input)
            return STATUS_OK;
        return copy_with_crc(input_path, sibling("new").text);
    case 5:
        if (!records_input)
            return STATUS_OK;
        return rename_verbose(input_path, sibling("bak").text);
    case 6: {
        if (!records_input)
            return STATUS_OK;
        SiblingName bak = sibling("bak");
        int32_t rc = rename_verbose(sibling("new").text, input_path);
        // The input file already moved to the bak name; bring it back so
        // that a failed run leaves the user's file where it was.
        if (rc != 0) {
            int err = errno;
            std::rename(bak.text, input_path);
            errno = err;
        }
        return rc;
    }
    case 7:
        if (!outputs || !(options & OPT_OUT_THX))
            return STATUS_OK;
        return write_thx_file(output_path, image, image_size);
    case 8:
        if (!outputs || !(options & OPT_OUT_THD))
            return STATUS_OK;
        return write_thd_file(output_path, image, image_size);
    case 9:
        if (!outputs || !(options & OPT_OUT_BIN))
            return STATUS_OK;
        return write_bin_file(output_path, image, image_size);
    default:
        std::printf("Don't know this command\n");
        return STATUS_RENAME_FAILED;
    }
}

int run_tool(int argc, const char *const *argv)
{
    int32_t status = -1;
    if (argc >= 2) {
        for (int i = 1; i < argc; i++) {
            const char *arg = argv[i];
            if (arg[0] != '-')
                break;
            int letter = static_cast<unsigned char>(arg[1]);
            if (letter >= 'a' && letter <= 'z')
                letter -= 'a' - 'A';
            const char *value = std::strlen(arg) >= 3 ? arg + 3 : "";
            status = set_option(letter, value);
            if (status != 0)
                break;
        }

        if (options & OPT_FILE_CRC)
            return print_file_crc(input_path);

        if ((options & (OPT_IN_BIN | OPT_IN_THX)) && !(options & OPT_IN_R9500) &&
            !(options & (OPT_OUT_BIN | OPT_OUT_THX)))
            options |= OPT_OUT_THX;
        if (input_path)
            std::snprintf(input_path + std::strlen(input_path), 5, ".%s", input_ext);
        if (output_path)
            std::snprintf(output_path + std::strlen(output_path), 5, ".%s", output_ext);

        if (status != 0) {
            if (verbose())
                std::printf("Options error %04X\n", unsigned(status));
        } else if (options < OPT_MODULE) {
            status = ERR_NO_MODULE;
        } else {
            for (int number = 1; number <= COMMAND_COUNT; number++) {
                status = run_command(number);
                if (status != 0) {
                    std::printf("Error %x, errno %x in batchfile command %d\n", unsigned(status),
                                unsigned(errno), number);
                    break;
                }
            }
        }
    }
    free_image();
    if (status != 0 && (options & OPT_HELP))
        print_help();
    if (verbose())
        std::printf("Exit code %d Error %04X\n", status != 0 ? 1 : 0, unsigned(status));
    return status != 0 ? 1 : 0;
}
