// Copying an S-record file with the module CRC patched in.
#include "records/patch_copy.h"

#include <cstdio>
#include <cstring>

#include "driver/file_names.h"
#include "driver/output_file.h"
#include "records/hex.h"
#include "records/record_reader.h"
#include "state.h"
#include "status.h"

namespace {

// Value of the two hex characters at text.
int hex_pair(const uint8_t *text) { return hex_value(text[0]) * 16 + hex_value(text[1]); }

// The decoder converts in place; the line itself must be written as read.
uint8_t scratch[RECORD_BUFFER_SIZE];

int32_t report_short(int32_t wanted, int32_t written)
{
    std::printf("Writing %d bytes, actually %d written, Aborting\n", int(wanted), int(written));
    return ERR_WRITE_SHORT;
}

// Copies in to out; see copy_with_crc.
int32_t copy_records(FILE *in, FILE *out)
{
    DecodeState state = {};
    bool lf_lost = false;
    for (;;) {
        int32_t n = read_record(in, record_buffer, RECORD_BUFFER_SIZE);
        if (n <= 0)
            break;
        // A byte between records goes through as it is, with no line feed.
        if (is_stray_byte(n)) {
            if (std::putc(n & 0xFF, out) == EOF)
                return report_short(1, 0);
            continue;
        }

        int32_t status = STATUS_OK;
        if (n == REC_LONG_LINE) {
            // No record is this long; copy the whole line and number nothing.
            size_t written = std::fwrite(record_buffer, 1, RECORD_BUFFER_SIZE, out);
            if (written != size_t(RECORD_BUFFER_SIZE))
                status = report_short(RECORD_BUFFER_SIZE, int32_t(written));
            else if (pass_rest_of_line(in, out) != 0)
                status = report_short(1, 0);
        } else {
            int32_t before = state.count;
            std::memcpy(scratch, record_buffer, size_t(n));
            (void)decode_record(&state, scratch, n);
            int32_t written = 0;
            bool write = true;
            if (state.count != before && state.count == link_record) {
                int32_t rc = patch_s_record(record_buffer, n, loaded_crc);
                if (rc == REC_BAD_LENGTH) {
                    std::printf("Record %d at the link address has no room for the CRC, "
                                "Aborting\n", int(state.count));
                    status = ERR_WRITE_SHORT;
                    write = false;
                } else if (rc != 0) {
                    written = rc;  // 34900 for a T-record
                    write = false;
                }
            }
            if (write)
                written = int32_t(std::fwrite(record_buffer, 1, size_t(n), out));
            if (status == STATUS_OK && written != n)
                status = report_short(n, written);
        }
        if (std::putc('\n', out) == EOF) {
            std::printf("Problem when adding lf\n");
            lf_lost = true;  // the copy goes on, but must not replace the input
        }
        if (status != STATUS_OK)
            return status;
    }
    return lf_lost ? ERR_WRITE_SHORT : STATUS_OK;
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
    int old_sum = hex_pair(sum_at);
    int d0 = hex_pair(data_at);
    int d1 = hex_pair(data_at + 2);
    // Only the two data bytes change: take their old values out of the
    // checksum and the new ones in.
    auto sum = uint8_t(old_sum + d0 + d1 - (crc >> 8) - crc);
    word_to_hex(crc, reinterpret_cast<char *>(data_at));
    byte_to_hex(sum, reinterpret_cast<char *>(sum_at));
    return STATUS_OK;
}

int32_t copy_with_crc(const char *input_path, const char *new_path)
{
    if (open_file_pair(input_path, new_path) != 0)
        return STATUS_FAILED;
    int32_t status = copy_records(pair_in, pair_out);
    if (status == STATUS_OK && std::ferror(pair_in)) {
        std::printf("Unable to read %s to its end, Aborting\n", input_path);
        status = ERR_READ_SHORT;
    }
    // The input is replaced by this file next: all of it must be on disk.
    bool flushed = status != STATUS_OK || flush_to_disk(pair_out) == 0;
    bool closed = close_file_pair() == 0;
    if (status == STATUS_OK && !(flushed && closed)) {
        std::printf("Unable to write %s to disk, Aborting\n", new_path);
        status = ERR_WRITE_SHORT;
    }
    return status;
}
