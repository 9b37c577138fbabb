// Loading a record file into the module image.
#include "records/record_loader.h"

#include <cstdio>
#include <cstring>

#include "module/loader_input.h"
#include "module/module_format.h"
#include "platform/file_copy.h"
#include "records/intel_hex.h"
#include "records/record_reader.h"
#include "state.h"
#include "status.h"

namespace {

// The copy's plan as the load goes: the part from the start that the copy
// reproduces as it is grows with every unit (record, stray byte, long line)
// that the copy keeps as read, and stops at the first it repairs.
struct PlanNotes {
    bool clean = true;
    uint64_t clean_end = 0;
    PatchedRecord link = {0, 0};  // the last record at the link address; length 0: none
};

void note_unit(PlanNotes *notes, bool kept_as_read, uint64_t unit_end)
{
    if (!notes->clean)
        return;
    if (kept_as_read)
        notes->clean_end = unit_end;
    else
        notes->clean = false;
}

void note_link_record(PlanNotes *notes, uint64_t offset, int32_t length)
{
    notes->link = {offset, length};
}

// The plan of a load that has read file to its end with status.
void make_plan(const PlanNotes &notes, RecordFormat format, FILE *file, int32_t status)
{
    copy_plan = CopyPlan{};
    copy_plan.format = format;
    copy_plan.clean_end = notes.clean_end;
    if (notes.link.length > 0)
        copy_plan.patched[copy_plan.patched_count++] = notes.link;
    copy_plan.valid = status == STATUS_OK && file_identity(file, &copy_plan.file);
}

// Places the data of an accepted data record at its address less the link
// address. Returns 0, or ERR_IMAGE_FIT when it lies below the link address
// or reaches beyond capacity.
int32_t place_data(const DecodeState &state, uint8_t *image, uint32_t capacity, uint32_t *total)
{
    if (state.length == 0)
        return STATUS_OK;
    uint32_t offset = state.address - link_address;
    *total += uint32_t(state.length);
    // An address below the link address wraps to a negative offset.
    if (int32_t(offset) < 0 || uint64_t(offset) + uint32_t(state.length) > capacity)
        return ERR_IMAGE_FIT;
    std::memcpy(image + offset, state.data, size_t(state.length));
    return STATUS_OK;
}

// Reads the records of an open file into the image until an end record or
// the end of the file; the units it passes are noted for the copy's plan.
int32_t read_records(RecordFile *reader, uint8_t *image, uint32_t capacity, PlanNotes *notes,
                     uint32_t *total)
{
    RecordFormat format = reader->format;
    DecodeState state = {};
    for (;;) {
        uint64_t unit_start = record_file_offset(reader);
        int32_t n = read_record(reader, record_buffer, RECORD_BUFFER_SIZE);
        if (n <= 0)
            return STATUS_OK;
        // Stray bytes and lines longer than any record carry no record.
        if (n == REC_LONG_LINE) {
            while (read_line_part(reader, record_buffer, RECORD_BUFFER_SIZE) == REC_LONG_LINE) {
            }
        }
        uint8_t lead = is_stray_byte(n) ? uint8_t(n) : record_buffer[0];
        note_unit(notes, is_stray_byte(n) || copy_keeps_as_read(format, lead, reader->line_ended),
                  record_file_offset(reader));
        if (n == REC_LONG_LINE || is_stray_byte(n))
            continue;

        int32_t rc = decode_record_of(format, &state, record_buffer, n);
        if (rc == REC_END)
            return STATUS_OK;
        if (rc != 0 || !state.data_record)
            continue;
        if (state.address == link_address) {
            link_record = state.count;
            note_link_record(notes, unit_start, n);
        }
        if (int32_t status = place_data(state, image, capacity, total); status != STATUS_OK)
            return status;
    }
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

    PlanNotes notes;
    uint32_t total = 0;
    int32_t status = read_records(&reader, image, capacity, &notes, &total);
    // A read error looks like the end of the file; the module would then be
    // incomplete without anyone being told.
    if (status == STATUS_OK && std::ferror(f))
        status = ERR_READ_SHORT;
    record_file_stop(&reader);
    make_plan(notes, format, f, status);
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
