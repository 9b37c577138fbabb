// Definitions of the process-wide state, and its start values.
#include "state.h"

#include <cstdlib>
#include <cstring>

// Every value is given in init_state(), which main calls first; until then
// they are zero, as all static storage starts.
uint32_t options;
char input_ext[4];
char output_ext[4];
char *input_path;
char *output_path;
char input_path_buffer[PATH_BUFFER_SIZE];
char output_path_buffer[PATH_BUFFER_SIZE];
char *info_file_name;
char info_file_buffer[PATH_TEXT_MAX + 1];
uint32_t link_address;
uint64_t link_address_wide;
int32_t record_size;
int32_t serial_mode;
int32_t serial_number;
char configuration[CONFIGURATION_SIZE];
FILE *cfg_file;
int32_t cfg_created;

uint8_t *module_image;
uint32_t image_block_size;
ModuleSummary summary;

int32_t link_record;
uint32_t loaded_bytes;
uint16_t loaded_crc;
CopyPlan copy_plan;
LoadReport load_report;

FILE *pair_in;
FILE *pair_out;
uint32_t open_flags;
uint8_t record_buffer[RECORD_BUFFER_SIZE];

namespace {

void close_open_files()
{
    if (open_flags & OPEN_IN_FILE)
        std::fclose(pair_in);
    if (open_flags & OPEN_OUT_FILE)
        std::fclose(pair_out);
    if (cfg_file)
        std::fclose(cfg_file);
    pair_in = pair_out = cfg_file = nullptr;
}

}  // namespace

void free_image()
{
    if (open_flags & IMAGE_ALLOCATED) {
        std::free(module_image);
        open_flags &= ~IMAGE_ALLOCATED;
    }
    module_image = nullptr;
    image_block_size = 0;
}

void clear_summary_head()
{
    std::memset(&summary, 0, SUMMARY_HEAD_SIZE);
}

void init_state()
{
    free_image();
    close_open_files();

    options = 0;
    std::strcpy(input_ext, "abs");
    std::strcpy(output_ext, "thx");
    input_path = output_path = info_file_name = nullptr;
    std::memset(input_path_buffer, 0, sizeof input_path_buffer);
    std::memset(output_path_buffer, 0, sizeof output_path_buffer);
    std::memset(info_file_buffer, 0, sizeof info_file_buffer);
    link_address = 0;
    link_address_wide = 0;
    record_size = DEFAULT_RECORD_SIZE;
    serial_mode = SERIAL_NONE;
    serial_number = 0;
    std::memset(configuration, 0, sizeof configuration);
    cfg_created = 0;

    summary = ModuleSummary{};

    link_record = 0;
    loaded_bytes = 0;
    loaded_crc = 0;
    copy_plan = CopyPlan{};
    load_report = LoadReport{};

    open_flags = 0;
    std::memset(record_buffer, 0, sizeof record_buffer);
}
