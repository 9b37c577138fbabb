// Copying an S-record file with the module CRC patched in.
#include "records/patch_copy.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/durability.h"
#include "platform/file_copy.h"
#include "records/hex.h"
#include "records/intel_hex.h"
#include "records/record_patch.h"
#include "records/file_pair.h"
#include "records/record_reader.h"
#include "state.h"
#include "status.h"

namespace {

// The decoder converts in place; the line itself must be written as read.
uint8_t scratch[RECORD_BUFFER_SIZE];

// Bytes collected before they go to the new file in one write: the first
// piece is small, so that a file that cannot be written fails within its
// first records; each piece written doubles the next, up to the largest,
// since every write is a system call.
constexpr size_t OUT_FIRST_PIECE = 16384;
constexpr size_t OUT_LARGEST_PIECE = 262144;

// The new file's own output buffer: records and line feeds are appended
// here and written a piece at a time, instead of one stream call per record
// and per line feed. Like a stream buffer it reports a failed write for the
// append that set it off.
struct CopyOut {
    const RecordLoad *load;  // the load's plan, and the CRC to write
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

// The patch of a record that takes a CRC, in the file's format: the link
// record's first two data bytes, or under -w the bytes of every module's
// CRC wherever they fall in the record (an Intel HEX record's address
// adding to base).
int32_t patch_record(const RecordLoad &load, uint8_t *line, int32_t n, uint32_t base)
{
    if (!(options & OPT_WHOLE)) {
        if (load.format == RecordFormat::INTEL_HEX)
            return patch_hex_record(line, n, load.crcs[0]);
        return patch_s_record(line, n, load.crcs[0]);
    }
    int32_t rc = STATUS_OK;
    for (int m = 0; m < load.module_count && rc == STATUS_OK; m++)
        rc = patch_crc_at(load.format, line, n, base, uint32_t(load.modules[m]), load.crcs[m]);
    return rc;
}

// Under -w: whether the data record last decoded holds a byte of a CRC.
bool holds_a_crc(const RecordLoad &load, const DecodeState &state)
{
    for (int m = 0; m < load.module_count; m++) {
        uint32_t at = uint32_t(load.modules[m]);
        if (data_holds(state, at) || data_holds(state, at + 1))
            return true;
    }
    return false;
}

// Whether the record of n bytes in record_buffer takes the CRC, decided as
// the load decided it: the record whose number is link_record, or under -w
// every data record before the end record that holds a byte of the CRC.
// The decoder converts in place, so it works on a copy: the line itself
// must be written as read. *patching goes false once no later record can
// take the CRC, so that nothing more needs decoding.
bool takes_crc(const RecordLoad &load, DecodeState *state, int32_t n, bool *patching)
{
    int32_t before = state->count;
    std::memcpy(scratch, record_buffer, size_t(n));
    int32_t rc = decode_record_of(load.format, state, scratch, n);
    if (options & OPT_WHOLE) {
        if (rc == REC_END)
            *patching = false;
        return rc == STATUS_OK && state->data_record && holds_a_crc(load, *state);
    }
    if (state->count == before || state->count != link_record)
        return false;
    *patching = false;  // record numbers only grow
    return true;
}

// Patches the record of n bytes in record_buffer when it takes the CRC.
// *write goes false when the record is not to be written: a T-record cannot
// take the CRC, and the copy reports its result (34900) as the count of
// bytes written.
int32_t patch_if_taken(const RecordLoad &load, DecodeState *state, int32_t n, bool *patching,
                       size_t *written, bool *write)
{
    if (!takes_crc(load, state, n, patching))
        return STATUS_OK;
    int32_t rc = patch_record(load, record_buffer, n, state->base);
    if (rc == REC_BAD_LENGTH) {
        std::printf("Record %d at the link address has no room for the CRC, Aborting\n",
                    int(state->count));
        *write = false;
        return ERR_WRITE_SHORT;
    }
    if (rc != 0) {
        *written = size_t(rc);
        *write = false;
    }
    return STATUS_OK;
}

// One record of n bytes in record_buffer, patched when it takes the CRC.
int32_t copy_record(DecodeState *state, int32_t n, bool *patching,
                    CopyOut *out)
{
    size_t written = 0;
    bool write = true;
    int32_t status = STATUS_OK;
    if (*patching)
        status = patch_if_taken(*out->load, state, n, patching, &written, &write);
    if (write)
        written = put_bytes(out, record_buffer, size_t(n));
    if (status == STATUS_OK && written != size_t(n))
        status = report_short(n, written);
    return status;
}

// Copies in to out record by record; see copy_with_crc. patching: a record
// that takes the CRC may still come (records are decoded until none can).
int32_t copy_records(RecordFile *in, CopyOut *out, bool patching)
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
                                            : copy_record(&state, n, &patching, out);
        if (copy_writes_line_feed(format, in->line_ended) && !put_byte(out, '\n')) {
            std::printf("Problem when adding lf\n");
            lf_lost = true;  // the copy goes on, but must not replace the input
        }
        if (status != STATUS_OK)
            return status;
    }
    return lf_lost ? ERR_WRITE_SHORT : STATUS_OK;
}

int32_t report_unreadable(const char *record_path)
{
    std::printf("Unable to read %s to its end, Aborting\n", record_path);
    return ERR_READ_SHORT;
}

// Whether the load's plan fits the file being copied: the same file,
// unchanged, for the same link record, all of whose patched records lie in
// the part that needs no repair.
bool plan_fits(const CopyPlan &plan, FILE *in, RecordFormat format)
{
    FileIdentity now;
    if (!plan.valid || !file_identity(in, &now) || !same_identity(now, plan.file))
        return false;
    bool by_number = format != RecordFormat::ELF && !(options & OPT_WHOLE);
    if (by_number && (link_record > 0) != (plan.patched_count > 0))
        return false;
    for (int i = 0; i < plan.patched_count; i++) {
        const PatchedRecord &r = plan.patched[i];
        if (r.offset + uint64_t(r.length) > plan.clean_end)
            return false;
    }
    return true;
}

// Copies count bytes of the input from offset from to the new file as they are.
int32_t copy_as_bytes(CopyOut *out, uint64_t from, uint64_t count, const char *record_path)
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
    return report_unreadable(record_path);
}

// Reads the record of the plan from the file into line and patches it.
// False when that cannot be done (the record-by-record copy then says why).
bool read_and_patch(const RecordLoad &load, const PatchedRecord &r, uint8_t *line)
{
    size_t n = size_t(r.length);
    return n <= RECORD_BUFFER_SIZE && seek_to(pair_in, r.offset) == 0 &&
           std::fread(line, 1, n, pair_in) == n &&
           patch_record(load, line, r.length, r.base) == STATUS_OK;
}

// The part of a file that needs no repair, as bytes: the records that take
// the CRC are read from the file and patched first, then written in their
// places between the bytes copied as they are. Returns 0, a failure with
// its message, or REC_NO_PLAN when a record cannot be patched (then
// nothing is written).
constexpr int32_t REC_NO_PLAN = -2;

int32_t copy_clean_part(CopyOut *out, const char *record_path)
{
    const CopyPlan &plan = out->load->plan;
    // The patched lines, read before anything is written: too large for the stack.
    static uint8_t lines[MAX_PATCHED_RECORDS][RECORD_BUFFER_SIZE];
    for (int i = 0; i < plan.patched_count; i++)
        if (!read_and_patch(*out->load, plan.patched[i], lines[i]))
            return REC_NO_PLAN;
    uint64_t at = 0;
    for (int i = 0; i < plan.patched_count; i++) {
        const PatchedRecord &r = plan.patched[i];
        if (int32_t rc = copy_as_bytes(out, at, r.offset - at, record_path); rc != STATUS_OK)
            return rc;
        size_t written = put_bytes(out, lines[i], size_t(r.length));
        if (written != size_t(r.length))
            return report_short(r.length, written);
        at = r.offset + uint64_t(r.length);
    }
    return copy_as_bytes(out, at, plan.clean_end - at, record_path);
}

// An ELF file: every byte as it is but the two of the CRC, which the load
// found at their file offsets. There is no other way to copy one, so the
// file must be the one the load planned for.
int32_t copy_elf(CopyOut *out, const char *record_path)
{
    const CopyPlan &plan = out->load->plan;
    const uint16_t *crcs = out->load->crcs;
    if (!plan_fits(plan, pair_in, RecordFormat::ELF)) {
        std::printf("%s changed while it was read, Aborting\n", record_path);
        return ERR_READ_SHORT;
    }
    uint64_t at = 0;
    for (int i = 0; i < plan.patched_count; i++) {
        const PatchedRecord &b = plan.patched[i];
        if (b.offset < at)
            continue;  // segments that share file bytes: the first address wins
        if (int32_t rc = copy_as_bytes(out, at, b.offset - at, record_path); rc != STATUS_OK)
            return rc;
        uint16_t crc = crcs[b.module];
        uint8_t crc_byte = uint8_t(b.address == 0 ? crc >> 8 : crc);
        if (!put_byte(out, crc_byte))
            return report_short(1, 0);
        at = b.offset + 1;
    }
    return copy_as_bytes(out, at, plan.clean_end - at, record_path);
}

// The copy itself: the part the load planned for as bytes, the rest (or
// all of a file the load did not plan for) record by record.
int32_t copy_file(CopyOut *out, const char *record_path, RecordFormat format)
{
    if (format == RecordFormat::ELF)
        return copy_elf(out, record_path);
    uint64_t rest = 0;
    bool patching = (options & OPT_WHOLE) || link_record > 0;
    if (plan_fits(out->load->plan, pair_in, format)) {
        int32_t rc = copy_clean_part(out, record_path);
        if (rc != REC_NO_PLAN) {
            if (rc != STATUS_OK)
                return rc;
            rest = out->load->plan.clean_end;
            patching = false;
        }
    }
    if (seek_to(pair_in, rest) != 0)
        return report_unreadable(record_path);
    RecordFile in;
    if (record_file_start(&in, pair_in, rest, format) != STATUS_OK) {
        std::printf("Memory allocation problem\n");
        return ERR_NO_MEMORY;
    }
    int32_t status = copy_records(&in, out, patching);
    record_file_stop(&in);
    if (status == STATUS_OK && std::ferror(pair_in))
        return report_unreadable(record_path);
    return status;
}

// Writes out what the copy collected, even after a failure (the new file
// is left as far as the copy got), and closes the pair. A successful copy
// must then be whole on disk, as it replaces the input next.
int32_t finish_copy(CopyOut *out, int32_t status, const char *new_path)
{
    bool written = write_piece(out);
    bool flushed = status != STATUS_OK || (written && flush_to_disk(pair_out) == 0);
    bool closed = close_file_pair() == 0;
    if (status == STATUS_OK && !(flushed && closed)) {
        std::printf("Unable to write %s to disk, Aborting\n", new_path);
        return ERR_WRITE_SHORT;
    }
    return status;
}

}  // namespace

int32_t copy_with_crc(const char *record_path, const char *new_path, const RecordLoad &load)
{
    if (open_file_pair(record_path, new_path) != 0)
        return STATUS_FAILED;
    CopyOut out = {&load, pair_out, static_cast<uint8_t *>(std::malloc(OUT_LARGEST_PIECE)),
                   OUT_FIRST_PIECE, 0, false};
    int32_t status = ERR_NO_MEMORY;
    if (out.bytes)
        status = copy_file(&out, record_path, load.format);
    else
        std::printf("Memory allocation problem\n");
    status = finish_copy(&out, status, new_path);
    std::free(out.bytes);
    return status;
}
