// A run of the tool: the argument loop, the commands, and the end of the run.
#include "driver/run.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/commands.h"
#include "driver/file_types.h"
#include "driver/help.h"
#include "driver/hints.h"
#include "driver/info_file.h"
#include "driver/json_report.h"
#include "driver/option_parser.h"
#include "module/crc16.h"
#include "options.h"
#include "platform/backup.h"
#include "platform/console_capture.h"
#include "platform/durability.h"
#include "platform/run_lock.h"
#include "platform/scratch_files.h"
#include "records/elf_file.h"
#include "records/hex.h"
#include "records/record_loader.h"
#include "state.h"
#include "status.h"

namespace {

// An argument that is a whole word of its own rather than an option.
enum class Request { NONE, HELP, VERSION };

// Whether an argument among the options (those before the first that
// does not begin with '-') is one that acts from the start of the run.
bool among_options(int argc, const char *const *argv, bool (*is)(const char *arg))
{
    for (int i = 1; i < argc && argv[i][0] == '-'; i++)
        if (is(argv[i]))
            return true;
    return false;
}

// -k holds from the start, so that an option before it that would write
// (a CFG line of an info file read with -g) is refused.
bool is_check(const char *arg) { return option_letter(arg) == 'K'; }

// --json holds back the text lines from the start.
bool is_json(const char *arg) { return !std::strcmp(arg, "--json"); }

// The argument loop: options in order until one fails or an argument does
// not begin with '-'. Returns the last option's status, -1 when no option
// came; the run learns the argument whose option failed and the one that
// ended the options. --help and --version end the loop and set *request.
int32_t read_arguments(int argc, const char *const *argv, Run *run, Request *request)
{
    if (among_options(argc, argv, is_check))
        options |= OPT_CHECK;
    int32_t status = -1;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "--version")) {
            *request = arg[2] == 'h' ? Request::HELP : Request::VERSION;
            return STATUS_OK;
        }
        if (arg[0] != '-') {
            run->stray_argument = arg;
            break;
        }
        if (is_json(arg))
            continue;
        status = set_option(option_letter(arg), option_value(arg));
        if (status != 0) {
            run->failed_option = arg;
            break;
        }
    }
    return status;
}

// The run's one JSON document, with the text it held back and the words
// of a failure.
void report_json(const Run &run, FileCrcReport &file, const char *explanation)
{
    if (!(options & OPT_JSON))
        return;
    char *printed = release_stdout(&file.printed);
    print_json_report(run, file, printed ? printed : "", explanation);
    std::free(printed);
}

// The default output of bin and thx input (none under -k, which writes
// nothing), and the extensions appended to the module path.
void complete_paths()
{
    if ((options & (OPT_IN_BIN | OPT_IN_THX)) && !(options & (OPT_IN_R9500 | OPT_CHECK)) &&
        !(options & OPT_OUT_MODULE))
        options |= OPT_OUT_THX;
    if (input_path)
        std::snprintf(input_path + std::strlen(input_path), TYPE_NAME_MAX + 2, ".%s", input_ext);
    if (output_path)
        std::snprintf(output_path + std::strlen(output_path), TYPE_NAME_MAX + 2, ".%s", output_ext);
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
// the commands.
int32_t run_after_options(Run *run, int32_t status)
{
    if (status != 0) {
        if (verbose())
            std::printf("Options error %04X\n", unsigned(status));
        return status;
    }
    if (!(options & OPT_MODULE))
        return ERR_NO_MODULE;
    if ((options & OPT_JSON) && (options & OPT_IN_RAW)) {
        std::printf("--json reports the modules a run reads or sets: raw packaging is refused, "
                    "Aborting\n");
        return ERR_JSON_RAW;
    }
    if (int32_t rc = check_writes_nothing(); rc != STATUS_OK) {
        if (verbose())
            std::printf("Options error %04X\n", unsigned(rc));
        return rc;
    }
    return run_commands(run);
}

int print_request(Request request)
{
    if (request == Request::HELP)
        print_usage();
    else
        print_version();
    return 0;
}

// -c prints the CRC of the file -m names and ends the run with its status.
// What the options staged (a CFG line's generic.tmp) goes into place when
// it succeeds.
int32_t file_crc_run(FileCrcReport *file)
{
    int32_t status = print_file_crc(input_path, &file->size, &file->crc);
    file->done = true;
    int step = 0;
    const char *failed = nullptr;
    if (status == STATUS_OK && (finish_cfg_file() != STATUS_OK || !commit_staged_files(&step) ||
                                sync_changed_directories(&failed) != 0))
        status = ERR_CFG_FILE;
    return status;
}

// A load of record text that failed did not see where all the file's
// data lies, nor one of an ELF file whether -l gave a section's address in
// memory instead of where it loads: the words that explain the failure
// need that.
void complete_report(Run *run)
{
    RecordFormat format = input_type().format;
    if (run->failed_command != 2 || (options & OPT_IN_R9500))
        return;
    LoadReport &r = run->load.report;
    if (format == RecordFormat::ELF && link_count > 0)
        r.in_section = find_section(input_path, link_address_wide, &r.section);
    if (format != RecordFormat::S_RECORDS && format != RecordFormat::INTEL_HEX)
        return;
    run->load.format = format;
    finish_load_report(&run->load, input_path);
}

// What every run leaves behind it: no scratch file of a failed run, no
// lock, and the memory of its load.
void end_run(Run *run)
{
    discard_scratch_files();
    release_run_locks();
    finish_backup_release(false);
    release_record_load(&run->load);
}

}  // namespace

int run_tool(int argc, const char *const *argv)
{
    Run run = {};
    FileCrcReport file = {};
    run.status = -1;
    // A report for machines holds back the text lines from the start.
    if (among_options(argc, argv, is_json)) {
        if (hold_stdout())
            options |= OPT_JSON;
        else
            std::fprintf(stderr, "tarvel: --json needs a temporary file to hold the text lines "
                                 "back, and none can be made: the report is text\n");
    }
    if (argc >= 2) {
        Request request = Request::NONE;
        run.status = read_arguments(argc, argv, &run, &request);
        if (request != Request::NONE) {
            std::free(release_stdout(&file.printed));
            end_run(&run);
            return print_request(request);
        }
        if (options & OPT_FILE_CRC) {
            run.status = file_crc_run(&file);
            end_run(&run);
            report_json(run, file, "");
            return run.status;
        }
        complete_paths();
        run.status = run_after_options(&run, run.status);
    }
    discard_scratch_files();
    release_run_locks();
    if (run.status != 0 && (options & OPT_HELP) && !(options & OPT_JSON))
        print_help();
    if (verbose())
        std::printf("Exit code %d Error %04X\n", run.status != 0 ? 1 : 0, unsigned(run.status));
    char words[2048] = "";
    if (run.status != 0) {
        std::fflush(stdout);  // the messages first, then what they mean
        complete_report(&run);
        explain_failure(run, words, sizeof words);
    }
    report_json(run, file, words);
    free_image();
    end_run(&run);
    return run.status != 0 ? 1 : 0;
}

void init_state()
{
    reset_shared_state();
    discard_scratch_files();
    release_run_locks();
    forget_changed_directories();
    finish_backup_release(false);
    reset_hex_decoder();
}
