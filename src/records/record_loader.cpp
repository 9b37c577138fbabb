// Loading a record file into the module image.
#include "records/record_loader.h"

#include <cstdio>
#include <cstring>

#include "module/loader_input.h"
#include "module/module_format.h"
#include "records/intel_hex.h"
#include "records/record_reader.h"
#include "state.h"
#include "status.h"

CopyPlan copy_plan;

namespace {

// Follows the records the load takes for the copy's plan: the part from the
// start that needs no repair grows with every unit that ends in a line feed
// (or is a stray byte), and stops at the first that does not.
struct CleanPart {
    bool clean = true;
    uint64_t end = 0;
};

void note_unit(CleanPart *part, bool needs_no_repair, uint64_t unit_end)
{
    if (!part->clean)
        return;
    if (needs_no_repair)
        part->end = unit_end;
    else
        part->clean = false;
}

// The copy writes an Intel HEX file exactly as it is; an S-record file it
// gives a line feed after a T-record and after a last line without one.
bool copied_as_read(RecordFormat format, bool line_ended)
{
    if (format == RecordFormat::INTEL_HEX)
        return true;
    return record_buffer[0] == 'S' && line_ended;
}

// Both loaders: only the records differ.
int32_t load_record_file(const char *path, uint8_t *image, uint32_t capacity, uint32_t block,
                         RecordFormat format)
{
    copy_plan = CopyPlan{};
    FILE *f;
    if (int32_t rc = open_loader_input(path, capacity, block, &f); rc != STATUS_OK)
        return rc;
    RecordFile reader;
    if (record_file_start(&reader, f, 0, format) != STATUS_OK) {
        std::fclose(f);
        return ERR_NO_MEMORY;
    }

    DecodeState state = {};
    uint32_t total = 0;
    int32_t status = STATUS_OK;
    CleanPart clean;
    for (;;) {
        uint64_t unit_start = record_file_offset(&reader);
        int32_t n = read_record(&reader, record_buffer, RECORD_BUFFER_SIZE);
        if (n <= 0)
            break;
        // Stray bytes and lines longer than any record carry no record.
        if (n == REC_LONG_LINE) {
            while (read_line_part(&reader, record_buffer, RECORD_BUFFER_SIZE) == REC_LONG_LINE) {
            }
            note_unit(&clean, format == RecordFormat::INTEL_HEX || reader.line_ended,
                      record_file_offset(&reader));
            continue;
        }
        if (is_stray_byte(n)) {
            note_unit(&clean, true, record_file_offset(&reader));
            continue;
        }
        note_unit(&clean, copied_as_read(format, reader.line_ended), record_file_offset(&reader));
        int32_t rc = decode_record_of(format, &state, record_buffer, n);
        if (rc == REC_END)
            break;
        if (rc != 0 || !state.data_record)
            continue;

        uint32_t offset = state.address - link_address;
        if (offset == 0) {
            link_record = state.count;
            copy_plan.link_record = state.count;
            copy_plan.link_offset = unit_start;
            copy_plan.link_length = n;
        }
        if (state.length == 0)
            continue;
        total += uint32_t(state.length);
        // An address below the link address wraps to a negative offset.
        if (int32_t(offset) < 0 || uint64_t(offset) + uint32_t(state.length) > capacity) {
            status = ERR_IMAGE_FIT;
            break;
        }
        std::memcpy(image + offset, state.data, size_t(state.length));
    }
    // A read error looks like the end of the file; the module would then be
    // incomplete without anyone being told.
    if (status == STATUS_OK && std::ferror(f))
        status = ERR_READ_SHORT;
    record_file_stop(&reader);
    copy_plan.clean_end = clean.end;
    copy_plan.format = format;
    copy_plan.valid = status == STATUS_OK && file_identity(f, &copy_plan.file);
    std::fclose(f);

    loaded_bytes = total;
    fill_summary(image, block);
    return status;
}

}  // namespace

int32_t load_records(const char *path, uint8_t *image, uint32_t capacity, uint32_t block)
{
    return load_record_file(path, image, capacity, block, RecordFormat::S_RECORDS);
}

int32_t load_hex_records(const char *path, uint8_t *image, uint32_t capacity, uint32_t block)
{
    return load_record_file(path, image, capacity, block, RecordFormat::INTEL_HEX);
}
