// The nine batch commands and the commit that ends them.
#include "driver/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/file_types.h"
#include "driver/info_file.h"
#include "driver/modules.h"
#include "module/image_builder.h"
#include "module/thd_bin.h"
#include "options.h"
#include "platform/backup.h"
#include "platform/durability.h"
#include "platform/file_names.h"
#include "platform/input_file.h"
#include "platform/run_lock.h"
#include "platform/scratch_files.h"
#include "records/hex_writer.h"
#include "records/patch_copy.h"
#include "records/thx_writer.h"
#include "state.h"
#include "status.h"

namespace {

constexpr int COMMAND_COUNT = 9;

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

// Command 3: the output names, the serial number, and for a record file
// set in place the .bak file of the previous run, which the commit replaces.
int32_t list_outputs()
{
    if (verbose() && (options & OPT_OUT_MODULE)) {
        std::printf("Output %s\n", replace_extension(input_path, output_ext));
        if (options & OPT_OUT_THD)
            std::printf(" & %s", replace_extension(input_path, "thd"));
    }
    if (!input_type().in_place) {
        if ((options & (OPT_IN_BIN | OPT_IN_RAW)) && serial_mode != SERIAL_NONE)
            std::printf(" serial number %ld", long(serial_number));
        return STATUS_OK;
    }
    SiblingName bak = sibling("bak");
    int rc = prepare_backup(bak.text);
    int err = errno;
    if (verbose())
        std::printf("%d unlink %s\n", rc == 0 ? 0 : err, bak.text);
    return STATUS_OK;
}

void print_rename(int32_t rc, const char *from, const char *to)
{
    if (verbose())
        std::printf("%d rename %s %s\n", int(rc), from, base_name(to));
}

// Commands 4 to 6 set the CRC in the input file: only in a file set in
// place, and not in an r9500 file, which is only summarised.
bool record_file_step(int number)
{
    return number >= 4 && number <= 6 && input_type().in_place && !(options & OPT_IN_R9500);
}

// What a rename at the commit that fails is reported as: the status of the
// command that staged it, as if it had failed there (step 0: generic.tmp's
// successor, staged while the options were read).
int32_t commit_status(int step)
{
    if (step == 5 || step == 6)
        return STATUS_RENAME_FAILED;
    return step == 0 ? ERR_CFG_FILE : ERR_WRITE_SHORT;
}

void report_failure(Run *run, int32_t status, int number)
{
    std::printf("Error %x, errno %x in batchfile command %d\n", unsigned(status), unsigned(errno),
                number);
    run->failed_command = number;
}

// The end of a run whose commands all succeeded: generic.tmp's successor
// is put on disk, every staged file renamed into place, and the
// directories that changed synced, so that what exit code 0 reports
// survives a power cut.
int32_t commit(Run *run, int last_change)
{
    if (int32_t rc = finish_cfg_file(); rc != STATUS_OK) {
        discard_scratch_files();
        report_failure(run, rc, last_change);
        return rc;
    }
    int step = 0;
    bool committed = commit_staged_files(&step);
    finish_backup_release(committed);
    if (!committed) {
        int32_t status = commit_status(step);
        report_failure(run, status, step > 0 ? step : last_change);
        return status;
    }
    run->committed = true;
    const char *failed = nullptr;
    if (int32_t err = sync_changed_directories(&failed); err != 0) {
        std::printf("Unable to write %s to disk, Aborting\n", failed);
        errno = err;
        report_failure(run, ERR_WRITE_SHORT, last_change);
        return ERR_WRITE_SHORT;
    }
    return STATUS_OK;
}

}  // namespace

int32_t check_input_file(Run *run, const char *path)
{
    // Opening a FIFO waits for a writer, and a device may never end.
    run->input_kind = special_file_kind(path);
    if (run->input_kind) {
        std::printf("Input file %s is no regular file, Aborting\n", path);
        return STATUS_FAILED;
    }
    bool opened = false;
    if (FILE *f = open_input_file(path, "r", &opened)) {
        run->input_head_length = int(std::fread(run->input_head, 1, sizeof run->input_head, f));
        std::fclose(f);
        return STATUS_OK;
    }
    // A raw file that cannot be opened is reported by command 2.
    if (!opened && !std::strcmp(input_ext, "raw"))
        return STATUS_OK;
    std::printf("Unable to open input file %s\n", path);
    return STATUS_FAILED;
}

int32_t run_command(Run *run, int number)
{
    bool outputs = !(options & OPT_IN_R9500);
    if (number >= 4 && number <= 6 && !record_file_step(number))
        return STATUS_OK;
    switch (number) {
    case 1:
        return check_input_file(run, input_path);
    case 2:
        return load_modules(run);
    case 3:
        return list_outputs();
    case 4:
        return copy_with_crc(input_path, sibling("new").text, run->load);
    case 5: {
        SiblingName bak = sibling("bak");
        int32_t rc = stage_backup(input_path, bak.text) == 0 ? 0 : STATUS_RENAME_FAILED;
        print_rename(rc, input_path, bak.text);
        return rc;
    }
    case 6: {
        SiblingName fresh = sibling("new");
        stage_scratch_file(fresh.text, input_path);
        print_rename(STATUS_OK, fresh.text, input_path);
        return STATUS_OK;
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

// Every file of the module that this run reads or replaces is locked before
// anything is read: the input, the other files of its module that are set
// in place (they share the .new and .bak files), and the outputs. All of
// them are the module path with an extension, and they are locked in the
// order of their names, so that two runs never each hold what the other
// waits for. generic.tmp, which a raw run's info file may write, comes
// first.
void lock_run_files()
{
    if ((options & OPT_IN_RAW) && info_file_writes_cfg(info_file_name))
        lock_scratch_name(CFG_FILE_NAME);

    constexpr int MAX_NAMES = 16;
    SiblingName names[MAX_NAMES];
    int n = 0;
    auto add = [&](const char *name) {
        if (n < MAX_NAMES)
            std::snprintf(names[n++].text, sizeof names[0].text, "%s", name);
    };
    add(input_path);
    bool outputs = !(options & OPT_IN_R9500) && output_path;
    for (int i = 0; i < file_type_count; i++) {
        const FileType &t = file_types[i];
        if (input_type().in_place && t.in_place)
            add(replace_extension(input_path, t.name));
        // The thx records go to the output path, whatever its type.
        if (outputs && (options & t.output_bit))
            add(t.output_bit == OPT_OUT_THX ? output_path : replace_extension(output_path, t.name));
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

int32_t run_commands(Run *run)
{
    lock_run_files();
    int last_change = 0;
    int last = (options & OPT_CHECK) ? 2 : COMMAND_COUNT;
    for (int number = 1; number <= last; number++) {
        uint32_t changes = directory_changes();
        staging_step(number);
        int32_t status = run_command(run, number);
        if (directory_changes() != changes)
            last_change = number;
        if (status != 0) {
            report_failure(run, status, number);
            finish_backup_release(false);
            discard_scratch_files();
            forget_changed_directories();
            return status;
        }
    }
    return commit(run, last_change);
}
