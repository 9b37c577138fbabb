// The argument loop and the nine batch commands.
#include "driver/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/help.h"
#include "driver/hints.h"
#include "driver/info_file.h"
#include "driver/option_parser.h"
#include "module/crc16.h"
#include "module/image_builder.h"
#include "options.h"
#include "platform/backup.h"
#include "platform/durability.h"
#include "platform/file_names.h"
#include "platform/input_file.h"
#include "platform/run_lock.h"
#include "records/elf_file.h"
#include "records/hex_writer.h"
#include "records/patch_copy.h"
#include "records/record_loader.h"
#include "records/thd_bin.h"
#include "records/thx_writer.h"
#include "state.h"
#include "status.h"

namespace {

constexpr int COMMAND_COUNT = 9;

// What the ELF loader learns while it sizes the image, for its load.
ElfLoad elf_load;

// The loader of command 2 for a record file.
RecordLoader record_loader()
{
    switch (input_format()) {
    case RecordFormat::ELF:
        return {&elf_load, size_elf, load_elf};
    case RecordFormat::INTEL_HEX:
        return {nullptr, nullptr, load_hex_records};
    default:
        return {nullptr, nullptr, load_records};
    }
}

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
    if (verbose() && (options & OPT_OUT_MODULE)) {
        std::printf("Output %s\n", replace_extension(input_path, output_ext));
        if (options & OPT_OUT_THD)
            std::printf(" & %s", replace_extension(input_path, "thd"));
    }
    if (options & OPT_IN_NOT_TEXT) {
        if ((options & (OPT_IN_BIN | OPT_IN_RAW)) && serial_mode != SERIAL_NONE)
            std::printf(" serial number %ld", long(serial_number));
        return STATUS_OK;
    }
    // Record input: the old bak file goes, so that command 5 can move the
    // input file to that name.
    SiblingName bak = sibling("bak");
    int rc = remove_old_backup(bak.text);
    int err = errno;
    if (rc == 0)
        note_directory_changed(bak.text);
    if (verbose())
        std::printf("%d unlink %s\n", rc == 0 ? 0 : err, bak.text);
    return STATUS_OK;
}

void print_rename(int32_t rc, const char *from, const char *to)
{
    if (verbose())
        std::printf("%d rename %s %s\n", int(rc), from, base_name(to));
}

// Locks every file of the module that this run reads or replaces before
// anything is read: the input, the other record file of the module (abs and
// shx runs share the .new and .bak files), and the outputs. All of them are
// the module path with an extension, and they are locked in the order of
// their names, so that two runs never each hold what the other waits for.
// generic.tmp, which a raw run's info file may write, comes first.
void lock_run_files()
{
    if ((options & OPT_IN_RAW) && info_file_writes_cfg(info_file_name))
        lock_scratch_name(CFG_FILE_NAME);

    constexpr int MAX_NAMES = 9;
    SiblingName names[MAX_NAMES];
    int n = 0;
    auto add = [&](const char *name) {
        std::snprintf(names[n++].text, sizeof names[0].text, "%s", name);
    };
    add(input_path);
    if (!(options & OPT_IN_NOT_TEXT)) {
        add(replace_extension(input_path, "abs"));
        add(replace_extension(input_path, "shx"));
        add(replace_extension(input_path, "hex"));
        add(replace_extension(input_path, "elf"));
    }
    if (!(options & OPT_IN_R9500) && output_path) {
        if (options & OPT_OUT_THX)
            add(output_path);
        if (options & OPT_OUT_THD)
            add(replace_extension(output_path, "thd"));
        if (options & OPT_OUT_BIN)
            add(replace_extension(output_path, "bin"));
        if (options & OPT_OUT_HEX)
            add(replace_extension(output_path, "hex"));
    }
    // In name order, by insertion: std::sort on so few makes gcc 12 warn
    // of array bounds it never crosses.
    const char *order[MAX_NAMES];
    for (int i = 0; i < n; i++) {
        int at = i;
        for (; at > 0 && std::strcmp(order[at - 1], names[i].text) > 0; at--)
            order[at] = order[at - 1];
        order[at] = names[i].text;
    }
    for (int i = 0; i < n; i++)
        if (i == 0 || std::strcmp(order[i], order[i - 1]) != 0)
            lock_file_at(order[i]);
}

// Runs the nine commands (with -k the first two, which write nothing);
// returns the status of the first that fails, or 0, and in *failed its
// number. A successful run ends by putting the directories it changed on
// disk, so that what exit code 0 reports survives a power cut.
int32_t run_commands(int *failed_command)
{
    lock_run_files();
    int last_change = 0;
    int last = (options & OPT_CHECK) ? 2 : COMMAND_COUNT;
    for (int number = 1; number <= last; number++) {
        uint32_t changes = directory_changes();
        int32_t status = run_command(number);
        if (directory_changes() != changes)
            last_change = number;
        if (status != 0) {
            std::printf("Error %x, errno %x in batchfile command %d\n", unsigned(status),
                        unsigned(errno), number);
            finish_backup_removal();
            forget_changed_directories();
            *failed_command = number;
            return status;
        }
    }
    finish_backup_removal();
    const char *failed = nullptr;
    if (int32_t err = sync_changed_directories(&failed); err != 0) {
        std::printf("Unable to write %s to disk, Aborting\n", failed);
        errno = err;
        std::printf("Error %x, errno %x in batchfile command %d\n", unsigned(ERR_WRITE_SHORT),
                    unsigned(errno), last_change);
        *failed_command = last_change;
        return ERR_WRITE_SHORT;
    }
    return STATUS_OK;
}

}  // namespace

RecordFormat input_format()
{
    // "hex" input sets no bit of its own, as "abs" and "shx" do not.
    if (options & OPT_IN_ELF)
        return RecordFormat::ELF;
    if (!(options & OPT_IN_NOT_TEXT) && !std::strcmp(input_ext, "hex"))
        return RecordFormat::INTEL_HEX;
    return RecordFormat::S_RECORDS;
}

int32_t check_input_file(const char *path)
{
    // Opening a FIFO waits for a writer, and a device may never end.
    if (special_file_kind(path)) {
        std::printf("Input file %s is no regular file, Aborting\n", path);
        return STATUS_FAILED;
    }
    bool opened = false;
    if (FILE *f = open_input_file(path, "r", &opened)) {
        std::fclose(f);
        return STATUS_OK;
    }
    // A raw file that cannot be opened is reported by command 2.
    if (!opened && !std::strcmp(input_ext, "raw"))
        return STATUS_OK;
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
        return build_image(record_loader(), read_info_file);
    case 3:
        return list_outputs();
    case 4:
        if (!records_input)
            return STATUS_OK;
        return copy_with_crc(input_path, sibling("new").text, input_format());
    case 5: {
        if (!records_input)
            return STATUS_OK;
        SiblingName bak = sibling("bak");
        int32_t rc = keep_backup(input_path, bak.text) == 0 ? 0 : STATUS_RENAME_FAILED;
        print_rename(rc, input_path, bak.text);
        return rc;
    }
    case 6: {
        if (!records_input)
            return STATUS_OK;
        SiblingName fresh = sibling("new");
        int32_t rc = put_new_in_place(fresh.text, input_path) == 0 ? 0 : STATUS_RENAME_FAILED;
        print_rename(rc, fresh.text, input_path);
        return rc;
    }
    case 7: {
        // The record outputs: T-records, and Intel HEX beside them.
        if (!outputs)
            return STATUS_OK;
        int32_t rc = STATUS_OK;
        if (options & OPT_OUT_THX)
            rc = write_thx_file(output_path, module_image, image_block_size);
        if (rc == STATUS_OK && (options & OPT_OUT_HEX))
            rc = write_hex_file(output_path, module_image, image_block_size);
        return rc;
    }
    case 8:
        if (!outputs || !(options & OPT_OUT_THD))
            return STATUS_OK;
        return write_thd_file(output_path, module_image, image_block_size);
    case 9:
        if (!outputs || !(options & OPT_OUT_BIN))
            return STATUS_OK;
        return write_bin_file(output_path, module_image, image_block_size);
    default:
        std::printf("Don't know this command\n");
        return STATUS_UNKNOWN_COMMAND;
    }
}

namespace {

// An argument that is a whole word of its own rather than an option.
enum class Request { NONE, HELP, VERSION };

// -k among the options holds from the start, so that an option before it
// that would write (a CFG line of an info file read with -g) is refused.
bool check_requested(int argc, const char *const *argv)
{
    for (int i = 1; i < argc && argv[i][0] == '-'; i++)
        if (option_letter(argv[i]) == 'K')
            return true;
    return false;
}

// The argument loop: options in order until one fails or an argument does
// not begin with '-'. Returns the last option's status, -1 when no option
// came, and in *failed_arg the argument whose option failed; --help and
// --version end the loop and set *request.
int32_t read_arguments(int argc, const char *const *argv, Request *request, int *failed_arg)
{
    if (check_requested(argc, argv))
        options |= OPT_CHECK;
    int32_t status = -1;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "--version")) {
            *request = arg[2] == 'h' ? Request::HELP : Request::VERSION;
            return STATUS_OK;
        }
        if (arg[0] != '-')
            break;
        status = set_option(option_letter(arg), option_value(arg));
        if (status != 0) {
            *failed_arg = i;
            break;
        }
    }
    return status;
}

// The default output of bin and thx input (none under -k, which writes
// nothing), and the extensions appended to the module path.
void complete_paths()
{
    if ((options & (OPT_IN_BIN | OPT_IN_THX)) && !(options & (OPT_IN_R9500 | OPT_CHECK)) &&
        !(options & OPT_OUT_MODULE))
        options |= OPT_OUT_THX;
    if (input_path)
        std::snprintf(input_path + std::strlen(input_path), 5, ".%s", input_ext);
    if (output_path)
        std::snprintf(output_path + std::strlen(output_path), 5, ".%s", output_ext);
}

// -k writes nothing: an option or an input that would write is refused
// before anything is read.
int32_t check_writes_nothing()
{
    bool writes = (options & (OPT_OUT_MODULE | OPT_OUT_THD | OPT_IN_RAW | OPT_UPGRADE |
                              OPT_IN_R9500)) ||
                  serial_mode != SERIAL_NONE || configuration[0] != 0;
    if (!(options & OPT_CHECK) || !writes)
        return STATUS_OK;
    return refuse_under_check();
}

// After the options: their error, a missing -m, an option -k refuses, or
// the commands. *command is the number of the command that failed, 0 when
// none ran.
int32_t run_after_options(int32_t status, int *command)
{
    if (status != 0) {
        if (verbose())
            std::printf("Options error %04X\n", unsigned(status));
        return status;
    }
    if (!(options & OPT_MODULE))
        return ERR_NO_MODULE;
    if (int32_t rc = check_writes_nothing(); rc != STATUS_OK) {
        if (verbose())
            std::printf("Options error %04X\n", unsigned(rc));
        return rc;
    }
    return run_commands(command);
}

int print_request(Request request)
{
    if (request == Request::HELP)
        print_usage();
    else
        print_version();
    return 0;
}

}  // namespace

int run_tool(int argc, const char *const *argv)
{
    int32_t status = -1;
    int command = 0, failed_arg = 0;
    if (argc >= 2) {
        Request request = Request::NONE;
        status = read_arguments(argc, argv, &request, &failed_arg);
        if (request != Request::NONE)
            return print_request(request);
        if (options & OPT_FILE_CRC) {
            int32_t crc_status = print_file_crc(input_path);
            release_run_locks();
            return crc_status;
        }
        complete_paths();
        status = run_after_options(status, &command);
    }
    release_run_locks();
    if (status != 0 && (options & OPT_HELP))
        print_help();
    if (verbose())
        std::printf("Exit code %d Error %04X\n", status != 0 ? 1 : 0, unsigned(status));
    if (status != 0) {
        std::fflush(stdout);  // the messages first, then what they mean
        explain_failure({status, command, failed_arg, argc, argv});
    }
    free_image();
    release_elf_load(&elf_load);
    return status != 0 ? 1 : 0;
}
