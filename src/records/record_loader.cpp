// Loading a record file into the module image.
#include "records/record_loader.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "byte_order.h"
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
    int32_t patched_count = 0;
    PatchedRecord patched[MAX_PATCHED_RECORDS] = {};
    bool too_many = false;  // more records take the CRC than the plan holds
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

// A record that takes the CRC. Without -w only the last record at the link
// address does, so a later one replaces an earlier one.
void note_patched(PlanNotes *notes, uint64_t offset, int32_t length, uint32_t base, bool replace)
{
    if (replace)
        notes->patched_count = 0;
    if (notes->patched_count == MAX_PATCHED_RECORDS)
        notes->too_many = true;
    else
        notes->patched[notes->patched_count++] = {offset, length, base, 0, 0};
}

// The plan of a load that has read file to its end with status.
void make_plan(const PlanNotes &notes, FILE *file, int32_t status, CopyPlan *plan)
{
    *plan = CopyPlan{};
    plan->clean_end = notes.clean_end;
    plan->patched_count = notes.patched_count;
    std::memcpy(plan->patched, notes.patched, sizeof notes.patched);
    plan->valid = status == STATUS_OK && !notes.too_many && file_identity(file, &plan->file);
}

// One load of a record file.
struct Load {
    RecordLoad *found;   // what the load finds, for the copy and the words of a failure
    RecordFile reader;
    uint8_t *image;      // the module image; null when the file is read whole
    uint32_t capacity;
    DecodeState state;
    PlanNotes notes;
    uint32_t total;      // data bytes of the records placed
};

// Places the data of an accepted data record at its address less the link
// address. Returns 0, or ERR_IMAGE_FIT when it lies below the link address
// or reaches beyond capacity.
int32_t place_data(Load *load)
{
    const DecodeState &s = load->state;
    uint32_t offset = s.address - link_address;
    load->total += uint32_t(s.length);
    // An address below the link address wraps to a negative offset.
    if (int32_t(offset) < 0 || uint64_t(offset) + uint32_t(s.length) > load->capacity)
        return ERR_IMAGE_FIT;
    std::memcpy(load->image + offset, s.data, size_t(s.length));
    return STATUS_OK;
}

// An accepted data record of n bytes at unit_start.
int32_t take_data_record(Load *load, uint64_t unit_start, int32_t n)
{
    const DecodeState &s = load->state;
    // Read whole (-w), the file's data go to its extents, every record.
    if (!load->image)
        return add_bytes(&load->found->extents, s.address, s.data, uint32_t(s.length)) ? STATUS_OK
                                                                                     : ERR_NO_MEMORY;
    if (s.address == link_address) {
        link_record = s.count;
        note_patched(&load->notes, unit_start, n, s.base, true);
    }
    if (s.length == 0)
        return STATUS_OK;
    int32_t status = place_data(load);
    if (status != STATUS_OK) {
        LoadReport &r = load->found->report;
        r.misfit = true;
        r.misfit_low = s.address;
        r.misfit_high = s.address + uint32_t(s.length - 1);
    }
    return status;
}

// The next unit of the file into record_buffer, as read_record gives it; a
// line too long to be a record is taken to its end (REC_LONG_LINE).
int32_t read_unit(RecordFile *reader)
{
    int32_t n = read_record(reader, record_buffer, RECORD_BUFFER_SIZE);
    if (n == REC_LONG_LINE) {
        while (read_line_part(reader, record_buffer, RECORD_BUFFER_SIZE) == REC_LONG_LINE) {
        }
    }
    return n;
}

// Line (from 1) of the byte at offset in file: the line feeds before it, counted anew.
uint64_t line_at(FILE *file, uint64_t offset)
{
    uint64_t line = 1, at = 0;
    uint8_t block[4096];
    if (seek_to(file, 0) != 0)
        return 0;
    while (at < offset) {
        size_t want = offset - at < sizeof block ? size_t(offset - at) : sizeof block;
        size_t got = std::fread(block, 1, want, file);
        if (got == 0)
            break;
        for (size_t i = 0; i < got; i++)
            line += block[i] == '\n';
        at += got;
    }
    return line;
}

// A record the decoder refused: a damaged record of a known type (a wrong
// checksum, bytes missing, an S5 count that says records were lost) fails
// the load with its message; anything else was never a record and is
// passed over. Returns 0 or ERR_RECORD_SUM.
int32_t refuse_record(Load *load, int32_t rc, uint64_t unit_start)
{
    RecordFormat format = load->reader.format;
    bool lost = format == RecordFormat::S_RECORDS && rc == rec_bad_count(load->state.count - 1);
    bool damaged = damaged_record(format, rc, record_buffer);
    if (!lost && !damaged)
        return STATUS_OK;
    if (format == RecordFormat::S_RECORDS && record_buffer[0] == 'T') {
        std::printf("Record checksum error at offset %llu, Aborting\n",
                    static_cast<unsigned long long>(unit_start));
        return ERR_RECORD_SUM;
    }
    uint64_t line = line_at(load->reader.file, unit_start);
    load->found->report.damaged_line = line;
    load->found->report.damage = rc;
    if (lost) {
        std::printf("Record count %u in line %llu, %d records read, Aborting\n",
                    unsigned(get_be16(record_buffer + 3)), static_cast<unsigned long long>(line),
                    int(load->state.count - 1));
    } else {
        std::printf("Record checksum error in line %llu, Aborting\n",
                    static_cast<unsigned long long>(line));
    }
    return ERR_RECORD_SUM;
}

// Reads the records of the file into the image until an end record or the
// end of the file; the units it passes are noted for the copy's plan.
int32_t read_records(Load *load)
{
    RecordFormat format = load->reader.format;
    for (;;) {
        uint64_t unit_start = record_file_offset(&load->reader);
        int32_t n = read_unit(&load->reader);
        if (n <= 0)
            return STATUS_OK;
        // Stray bytes and lines longer than any record carry no record.
        bool stray = is_stray_byte(n);
        uint8_t lead = stray ? uint8_t(n) : record_buffer[0];
        note_unit(&load->notes, stray || copy_keeps_as_read(format, lead, load->reader.line_ended),
                  record_file_offset(&load->reader));
        if (n == REC_LONG_LINE || stray)
            continue;

        int32_t rc = decode_record_of(format, &load->state, record_buffer, n);
        if (rc == REC_END)
            return STATUS_OK;
        if (rc != STATUS_OK)
            rc = refuse_record(load, rc, unit_start);
        else if (load->state.data_record)
            rc = take_data_record(load, unit_start, n);
        if (rc != STATUS_OK)
            return rc;
    }
}

// Both loaders: only the records differ.
int32_t load_record_file(RecordLoad *found, const char *path, uint8_t *image, uint32_t capacity,
                         uint32_t block, RecordFormat format)
{
    release_record_load(found);
    found->format = format;
    found->report.capacity = capacity;
    FILE *f;
    if (int32_t rc = open_loader_input(path, capacity, block, &f); rc != STATUS_OK)
        return rc;
    Load load = {};
    load.found = found;
    load.image = image;
    load.capacity = capacity;
    if (record_file_start(&load.reader, f, 0, format) != STATUS_OK) {
        std::fclose(f);
        return ERR_NO_MEMORY;
    }

    int32_t status = read_records(&load);
    // A read error looks like the end of the file; the module would then be
    // incomplete without anyone being told.
    if (status == STATUS_OK && std::ferror(f))
        status = ERR_READ_SHORT;
    record_file_stop(&load.reader);
    if (image)
        make_plan(load.notes, f, status, &found->plan);
    std::fclose(f);

    loaded_bytes = load.total;
    if (image)
        fill_summary(image, block);
    return status;
}

}  // namespace

int32_t load_records(RecordLoad *found, const char *path, uint8_t *image, uint32_t capacity,
                     uint32_t block)
{
    return load_record_file(found, path, image, capacity, block, RecordFormat::S_RECORDS);
}

int32_t load_hex_records(RecordLoad *found, const char *path, uint8_t *image, uint32_t capacity,
                         uint32_t block)
{
    return load_record_file(found, path, image, capacity, block, RecordFormat::INTEL_HEX);
}

int32_t load_record_extents(RecordLoad *found, const char *path, RecordFormat format)
{
    return load_record_file(found, path, nullptr, MIN_CAPACITY, MIN_CAPACITY, format);
}

void release_record_load(RecordLoad *load)
{
    release_extents(&load->extents);
    *load = RecordLoad{};
}

namespace {

// The lowest and highest address of the data records of a record file, read
// to its end record or its end; damaged records and stray bytes are passed
// over. False when the file holds no data.
bool record_data_extent(const char *path, RecordFormat format, uint32_t *low, uint32_t *high)
{
    *low = UINT32_MAX;
    *high = 0;
    FILE *f = std::fopen(path, "rb");
    RecordFile reader;
    if (!f || record_file_start(&reader, f, 0, format) != STATUS_OK) {
        if (f)
            std::fclose(f);
        return false;
    }
    DecodeState state = {};
    for (int32_t n; (n = read_unit(&reader)) > 0;) {
        if (n == REC_LONG_LINE || is_stray_byte(n))
            continue;
        int32_t rc = decode_record_of(format, &state, record_buffer, n);
        if (rc == REC_END)
            break;
        if (rc != STATUS_OK || !state.data_record || state.length == 0)
            continue;
        *low = state.address < *low ? state.address : *low;
        uint32_t last = state.address + uint32_t(state.length - 1);
        *high = last > *high ? last : *high;
    }
    record_file_stop(&reader);
    std::fclose(f);
    return *low <= *high;
}

}  // namespace

void finish_load_report(RecordLoad *found, const char *path)
{
    LoadReport &r = found->report;
    r.has_data = record_data_extent(path, found->format, &r.data_low, &r.data_high);
}

void locate_crc_bytes(const char *path, RecordFormat format, const uint32_t *addresses, int count,
                      CrcByte (*bytes)[2])
{
    for (int m = 0; m < count; m++)
        bytes[m][0] = bytes[m][1] = CrcByte{};
    FILE *f = std::fopen(path, "rb");
    RecordFile reader;
    if (!f || record_file_start(&reader, f, 0, format) != STATUS_OK) {
        if (f)
            std::fclose(f);
        return;
    }
    DecodeState state = {};
    uint64_t line = 1;
    int left = 2 * count;  // CRC bytes not found yet
    for (int32_t n; left > 0;) {
        uint64_t start = record_file_offset(&reader);
        if ((n = read_unit(&reader)) <= 0)
            break;
        if (is_stray_byte(n)) {
            line += uint8_t(n) == '\n';
            continue;
        }
        bool line_record = record_buffer[0] != 'T';
        int32_t rc = n == REC_LONG_LINE ? REC_LONG_LINE
                                        : decode_record_of(format, &state, record_buffer, n);
        if (rc == REC_END)
            break;
        for (int m = 0; rc == STATUS_OK && m < count; m++) {
            for (uint32_t k = 0; k < 2; k++) {
                uint32_t address = addresses[m] + k;
                if (bytes[m][k].found || !data_holds(state, address))
                    continue;
                // Byte p of the decoded record in its text: an S-record
                // keeps lead and type as they are and spells the rest in
                // pairs from character 2, Intel HEX all but the lead from
                // character 1.
                uint64_t p = uint64_t(state.data - record_buffer) + (address - state.address);
                uint64_t at = !line_record ? p : format == RecordFormat::INTEL_HEX ? 2 * p - 1 : 2 * p - 2;
                bytes[m][k] = {true, start + at, line_record ? line : 0};
                left--;
            }
        }
        line += line_record && reader.line_ended;
    }
    record_file_stop(&reader);
    std::fclose(f);
}
