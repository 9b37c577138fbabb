// Copying an S-record file with the module CRC patched in.
#include "records/patch_copy.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/durability.h"
#include "platform/file_copy.h"
#include "platform/file_names.h"
#include "records/hex.h"
#include "records/intel_hex.h"
#include "records/record_loader.h"
#include "records/record_reader.h"
#include "state.h"
#include "status.h"

namespace {

// Value of the two hex characters at text.
int hex_pair(const uint8_t *text) { return hex_value(text[0]) * 16 + hex_value(text[1]); }

// The decoder converts in place; the line itself must be written as read.
uint8_t scratch[RECORD_BUFFER_SIZE];

// Bytes collected before they go to the new file in one write: the first
// piece is small, so that a file that cannot be written fails within its
// first records; each piece written doubles the next, up to the largest.
// Every write is a system call: on an 83 MB file the copy and its flush to
// disk took 180 ms in 16 KiB writes and 115 ms in 256 KiB ones.
constexpr size_t OUT_FIRST_PIECE = 16384;
constexpr size_t OUT_LARGEST_PIECE = 262144;

// The new file's own output buffer: records and line feeds are appended
// here and written a piece at a time, instead of one stream call per record
// and per line feed. Like a stream buffer it reports a failed write for the
// append that set it off.
struct CopyOut {
    FILE *file;
    uint8_t *bytes;  // OUT_LARGEST_PIECE bytes from the heap
    size_t piece;    // bytes written at a time now
    size_t used;     // bytes waiting in bytes
    bool failed;     // a write fell short; nothing more is taken
};

bool write_piece(CopyOut *out)
{
    if (out->failed)
        return false;
    if (out->used > 0 && std::fwrite(out->bytes, 1, out->used, out->file) != out->used)
        out->failed = true;
    out->used = 0;
    if (out->piece < OUT_LARGEST_PIECE)
        out->piece *= 2;
    return !out->failed;
}

// Appends n bytes; returns the count taken, n unless a write failed.
size_t put_bytes(CopyOut *out, const uint8_t *p, size_t n)
{
    size_t taken = 0;
    while (!out->failed) {
        size_t k = out->piece - out->used;
        if (k > n - taken)
            k = n - taken;
        std::memcpy(out->bytes + out->used, p + taken, k);
        out->used += k;
        taken += k;
        if (taken == n || !write_piece(out))
            break;
    }
    return taken;
}

bool put_byte(CopyOut *out, uint8_t c) { return put_bytes(out, &c, 1) == 1; }

int32_t report_short(int32_t wanted, size_t written)
{
    std::printf("Writing %d bytes, actually %d written, Aborting\n", int(wanted), int(written));
    return ERR_WRITE_SHORT;
}

// A line longer than any record, whose first RECORD_BUFFER_SIZE bytes are
// in record_buffer: copied whole, numbered as nothing.
int32_t copy_long_line(RecordFile *in, CopyOut *out)
{
    int32_t part = RECORD_BUFFER_SIZE;
    size_t written = put_bytes(out, record_buffer, size_t(part));
    if (written != size_t(part))
        return report_short(part, written);
    for (int32_t k = REC_LONG_LINE; k == REC_LONG_LINE;) {
        k = read_line_part(in, record_buffer, RECORD_BUFFER_SIZE);
        part = k == REC_LONG_LINE ? RECORD_BUFFER_SIZE : k;
        if (put_bytes(out, record_buffer, size_t(part)) != size_t(part))
            return report_short(1, 0);
    }
    return STATUS_OK;
}

// The patch of the link record's line in the file's format.
int32_t patch_link_record(RecordFormat format, uint8_t *line, int32_t n)
{
    if (format == RecordFormat::INTEL_HEX)
        return patch_hex_record(line, n, loaded_crc);
    return patch_s_record(line, n, loaded_crc);
}

// Numbers the record of n bytes in record_buffer as the loader did and
// patches it when it is the link record. The decoder converts in place, so
// it works on a copy: the line itself must be written as read.
int32_t patch_if_link_record(RecordFormat format, DecodeState *state, int32_t n, bool *numbering,
                             size_t *written, bool *write)
{
    int32_t before = state->count;
    std::memcpy(scratch, record_buffer, size_t(n));
    (void)decode_record_of(format, state, scratch, n);
    if (state->count == before || state->count != link_record)
        return STATUS_OK;
    // Record numbers only grow: once the link record is behind, no record
    // can take the patch and nothing needs decoding.
    *numbering = false;
    int32_t rc = patch_link_record(format, record_buffer, n);
    if (rc == REC_BAD_LENGTH) {
        std::printf("Record %d at the link address has no room for the CRC, Aborting\n",
                    int(state->count));
        *write = false;
        return ERR_WRITE_SHORT;
    }
    if (rc != 0) {
        *written = size_t(rc);  // REC_T_RECORD: the record is left out
        *write = false;
    }
    return STATUS_OK;
}

// One record of n bytes in record_buffer, the link record patched.
int32_t copy_record(RecordFormat format, DecodeState *state, int32_t n, bool *numbering,
                    CopyOut *out)
{
    size_t written = 0;
    bool write = true;
    int32_t status = STATUS_OK;
    if (*numbering)
        status = patch_if_link_record(format, state, n, numbering, &written, &write);
    if (write)
        written = put_bytes(out, record_buffer, size_t(n));
    if (status == STATUS_OK && written != size_t(n))
        status = report_short(n, written);
    return status;
}

// Copies in to out record by record; see copy_with_crc. numbering: the
// link record may still come (records are numbered and decoded until it has).
int32_t copy_records(RecordFile *in, CopyOut *out, bool numbering)
{
    RecordFormat format = in->format;
    DecodeState state = {};
    bool lf_lost = false;
    for (;;) {
        int32_t n = read_record(in, record_buffer, RECORD_BUFFER_SIZE);
        if (n <= 0)
            break;
        // A byte between records goes through as it is, with no line feed.
        if (is_stray_byte(n)) {
            if (!put_byte(out, uint8_t(n)))
                return report_short(1, 0);
            continue;
        }
        int32_t status = n == REC_LONG_LINE ? copy_long_line(in, out)
                                            : copy_record(format, &state, n, &numbering, out);
        // An S-record line gets its line feed back, a T-record one of its
        // own; an Intel HEX file is copied exactly, a last line without a
        // line feed staying without one.
        bool lf_due = format == RecordFormat::S_RECORDS || in->line_ended;
        if (lf_due && !put_byte(out, '\n')) {
            std::printf("Problem when adding lf\n");
            lf_lost = true;  // the copy goes on, but must not replace the input
        }
        if (status != STATUS_OK)
            return status;
    }
    return lf_lost ? ERR_WRITE_SHORT : STATUS_OK;
}

// Whether the load's plan fits the file being copied: the same file,
// unchanged, whose link record (if any) lies in the part that needs no
// repair.
bool plan_fits(FILE *in, RecordFormat format)
{
    FileIdentity now;
    if (!copy_plan.valid || copy_plan.format != format || !file_identity(in, &now) ||
        !same_identity(now, copy_plan.file))
        return false;
    if (link_record == 0)
        return true;
    return copy_plan.link_record == link_record &&
           copy_plan.link_offset + uint64_t(copy_plan.link_length) < copy_plan.clean_end;
}

// Copies count bytes of the input from offset from to the new file as they are.
int32_t copy_as_bytes(CopyOut *out, uint64_t from, uint64_t count, const char *input_path)
{
    if (count == 0)
        return STATUS_OK;
    if (!write_piece(out))
        return report_short(0, 0);
    bool write_failed = false;
    uint64_t copied = copy_file_bytes(pair_in, pair_out, from, count, &write_failed);
    if (copied == count && !write_failed)
        return STATUS_OK;
    if (write_failed)
        return report_short(int32_t(count), size_t(copied));
    std::printf("Unable to read %s to its end, Aborting\n", input_path);
    return ERR_READ_SHORT;
}

// The part of a file that needs no repair, as bytes: the link record's line
// is read from the file, patched and written in its place, every other byte
// is copied as it is. Sets *rest to where the record-by-record copy goes on.
// Returns 0, a failure with its message, or REC_NO_PLAN when the link record
// cannot be patched (the record-by-record copy then says why).
constexpr int32_t REC_NO_PLAN = -2;

int32_t copy_clean_part(CopyOut *out, const char *input_path, uint64_t *rest)
{
    uint64_t link_at = copy_plan.clean_end, link_end = copy_plan.clean_end;
    int32_t n = 0;
    if (link_record > 0) {
        link_at = copy_plan.link_offset;
        n = copy_plan.link_length;
        link_end = link_at + uint64_t(n);
        if (seek_to(pair_in, link_at) != 0 ||
            std::fread(record_buffer, 1, size_t(n), pair_in) != size_t(n) ||
            patch_link_record(copy_plan.format, record_buffer, n) != STATUS_OK)
            return REC_NO_PLAN;
    }
    int32_t status = copy_as_bytes(out, 0, link_at, input_path);
    if (status == STATUS_OK && n > 0) {
        size_t written = put_bytes(out, record_buffer, size_t(n));
        if (written != size_t(n))
            status = report_short(n, written);
    }
    if (status == STATUS_OK)
        status = copy_as_bytes(out, link_end, copy_plan.clean_end - link_end, input_path);
    *rest = copy_plan.clean_end;
    return status;
}

}  // namespace

int32_t patch_s_record(uint8_t *line, int32_t n, uint16_t crc)
{
    if (n < 1)
        return REC_BAD_LENGTH;
    if (line[0] != 'S')
        return rec_no_record(line[0]);
    if (n < 4 || line[1] < '1' || line[1] > '3')
        return REC_BAD_LENGTH;
    int32_t t = line[1] - '0';  // address width t + 1
    int32_t count = hex_pair(line + 2);
    // Address, the two CRC bytes and the checksum, all within the line.
    if (count < (t + 1) + 2 + 1 || n < 4 + 2 * count)
        return REC_BAD_LENGTH;

    uint8_t *sum_at = line + 2 * count + 2;
    uint8_t *data_at = line + 2 * t + 6;
    word_to_hex(crc, reinterpret_cast<char *>(data_at));
    // The checksum of the record as it now reads: count, address and data.
    uint8_t bytes[255];
    for (int32_t i = 0; i < count; i++)
        bytes[i] = uint8_t(hex_pair(line + 2 + 2 * i));
    byte_to_hex(record_checksum(bytes, count), reinterpret_cast<char *>(sum_at));
    return STATUS_OK;
}

int32_t copy_with_crc(const char *input_path, const char *new_path, RecordFormat format)
{
    if (open_file_pair(input_path, new_path) != 0)
        return STATUS_FAILED;
    RecordFile in{};
    CopyOut out = {pair_out, static_cast<uint8_t *>(std::malloc(OUT_LARGEST_PIECE)), OUT_FIRST_PIECE,
                   0, false};
    // What the load found needs no repair is copied as bytes; the rest, and
    // a file the load did not plan for, record by record.
    uint64_t rest = 0;
    bool numbering = link_record > 0;
    int32_t status = out.bytes ? STATUS_OK : ERR_NO_MEMORY;
    if (status == STATUS_OK && plan_fits(pair_in, format)) {
        status = copy_clean_part(&out, input_path, &rest);
        if (status == REC_NO_PLAN)
            status = STATUS_OK;
        else
            numbering = false;
    }
    copy_plan.valid = false;  // used once
    if (status == STATUS_OK && seek_to(pair_in, rest) != 0) {
        std::printf("Unable to read %s to its end, Aborting\n", input_path);
        status = ERR_READ_SHORT;
    }
    if (status == STATUS_OK && record_file_start(&in, pair_in, rest, format) != STATUS_OK)
        status = ERR_NO_MEMORY;
    if (status == ERR_NO_MEMORY)
        std::printf("Memory allocation problem\n");
    else if (status == STATUS_OK)
        status = copy_records(&in, &out, numbering);
    if (status == STATUS_OK && std::ferror(pair_in)) {
        std::printf("Unable to read %s to its end, Aborting\n", input_path);
        status = ERR_READ_SHORT;
    }
    // What was copied goes out even after a failure: the new file is left
    // as far as the copy got. When the input is replaced by this file next,
    // all of it must be on disk.
    bool written = write_piece(&out);
    bool flushed = status != STATUS_OK || (written && flush_to_disk(pair_out) == 0);
    record_file_stop(&in);
    std::free(out.bytes);
    bool closed = close_file_pair() == 0;
    if (status == STATUS_OK && !(flushed && closed)) {
        std::printf("Unable to write %s to disk, Aborting\n", new_path);
        status = ERR_WRITE_SHORT;
    }
    return status;
}
