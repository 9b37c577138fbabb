// Definitions of the process-wide state, and its start values.
#include "state.h"

#include <cstdlib>
#include <cstring>

#include "options.h"
#include "platform/durability.h"
#include "platform/run_lock.h"
#include "records/record_loader.h"
#include "records/thx_writer.h"

// Every value is given in init_state(), which main calls first; until then
// they are zero, as all static storage starts.
uint32_t options;                             // OPT_* bits
uint32_t open_flags;                          // OPEN_* bits and IMAGE_ALLOCATED
char input_ext[4];                            // input type and extension
char output_ext[4];                           // output type and extension
char *input_path;                             // -m value + ".ext", or none
char *output_path;                            // -m value + ".ext", or none
char input_path_buffer[PATH_BUFFER_SIZE];     // storage of input_path
char output_path_buffer[PATH_BUFFER_SIZE];    // storage of output_path
char *info_file_name;                         // -f value, or none
char info_file_buffer[PATH_TEXT_MAX + 1];     // storage of info_file_name

uint32_t link_address;                 // -l: address of the module's first byte
int32_t record_size;                   // -t: data bytes per T3 record
int32_t serial_mode;                   // -s: what to do with "SNBR"
int32_t serial_number;                 // -s number; the stamped number afterwards
char configuration[CONFIGURATION_SIZE];  // -x: "_TYP" text, empty = none

FILE *cfg_file;      // generic.tmp while records are appended
int32_t cfg_created; // 1 once generic.tmp was created in this run

ModuleSummary summary;  // facts of the module last loaded or built

uint8_t *image;             // module image, allocated by build_image
uint32_t image_block_size;  // bytes in the image block

int32_t link_record;     // number of the record at the link address, 0 = none
uint16_t loaded_crc;     // CRC of the module as loaded, for the record file
uint32_t loaded_bytes;   // data bytes placed by the last record load
uint8_t record_buffer[RECORD_BUFFER_SIZE];  // one record at a time

FILE *pair_in;   // input of the CRC patch copy
FILE *pair_out;  // output of the CRC patch copy

void free_image()
{
    if (open_flags & IMAGE_ALLOCATED) {
        std::free(image);
        open_flags &= ~IMAGE_ALLOCATED;
    }
    image = nullptr;
    image_block_size = 0;
}

void clear_summary_head()
{
    std::memset(&summary, 0, SUMMARY_HEAD_SIZE);
}

void init_state()
{
    release_run_locks();
    forget_changed_directories();
    free_image();
    if (open_flags & OPEN_IN_FILE)
        std::fclose(pair_in);
    if (open_flags & OPEN_OUT_FILE)
        std::fclose(pair_out);
    if (cfg_file)
        std::fclose(cfg_file);
    pair_in = pair_out = cfg_file = nullptr;

    options = 0;
    open_flags = 0;
    std::strcpy(input_ext, "abs");
    std::strcpy(output_ext, "thx");
    input_path = output_path = info_file_name = nullptr;
    std::memset(input_path_buffer, 0, sizeof input_path_buffer);
    std::memset(output_path_buffer, 0, sizeof output_path_buffer);
    std::memset(info_file_buffer, 0, sizeof info_file_buffer);

    link_address = 0;
    record_size = DEFAULT_THX_RECORD_SIZE;
    serial_mode = SERIAL_NONE;
    serial_number = 0;
    std::memset(configuration, 0, sizeof configuration);
    cfg_created = 0;
    summary = ModuleSummary{};
    link_record = 0;
    copy_plan = CopyPlan{};
    loaded_crc = 0;
    loaded_bytes = 0;
    std::memset(record_buffer, 0, sizeof record_buffer);
}
