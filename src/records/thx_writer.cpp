// Writing the module as a thx file.
#include "records/thx_writer.h"

#include <cstdio>
#include <cstring>

#include "byte_order.h"
#include "module/module_format.h"
#include "module/thd_bin.h"
#include "module_layout.h"
#include "platform/output_file.h"
#include "records/record_reader.h"
#include "state.h"
#include "status.h"

namespace {

constexpr int32_t T_HEAD = 3;           // lead, type, count
constexpr int32_t T_ADDRESS_WIDTH = 4;  // T3 address
constexpr int32_t MAX_COUNT = 255;

bool record_size_ok() { return record_size >= 0 && record_size <= MAX_THX_RECORD_SIZE; }

// Builds the record in record_buffer and writes it. Returns 0 or 1.
int32_t put_record(FILE *file, const TRecordSpec &want)
{
    int32_t n = build_t_record(record_buffer, &want);
    if (n < 0 || std::fwrite(record_buffer, 1, size_t(n), file) != size_t(n))
        return STATUS_FAILED;
    return STATUS_OK;
}

}  // namespace

int32_t build_t_record(uint8_t *buffer, const TRecordSpec *want)
{
    int32_t address_width;
    if (want->type == '0' || want->type == '7')
        address_width = 0;
    else if (want->type == '3')
        address_width = T_ADDRESS_WIDTH;
    else
        return -1;
    int32_t count = want->length + address_width + 1;
    if (want->length < 0 || count > MAX_COUNT)
        return -1;

    buffer[0] = 'T';
    buffer[1] = uint8_t(want->type);
    buffer[2] = uint8_t(count);
    if (address_width)
        put_be32(buffer + T_HEAD, want->address);
    if (want->length)
        std::memcpy(buffer + T_HEAD + address_width, want->data, size_t(want->length));
    buffer[2 + count] = record_checksum(buffer + 2, count);
    return count + T_HEAD;
}

int32_t write_thx(FILE *file, const uint8_t *image, uint32_t block)
{
    uint32_t length;
    if (!record_size_ok() || !module_in_block(image, block, &length))
        return STATUS_FAILED;
    uint32_t piece_size = uint32_t(record_size == 0 ? DEFAULT_RECORD_SIZE : record_size);

    uint8_t thd[THD_RECORD_SIZE];
    make_thd(thd, image, block);
    if (put_record(file, TRecordSpec{'0', 0, thd, int32_t(THD_RECORD_SIZE)}) != 0)
        return STATUS_FAILED;
    for (uint32_t offset = 0; offset < length;) {
        uint32_t piece = length - offset < piece_size ? length - offset : piece_size;
        TRecordSpec want{'3', link_address + offset, image + offset, int32_t(piece)};
        if (put_record(file, want) != 0)
            return STATUS_FAILED;
        offset += piece;
    }
    return put_record(file, TRecordSpec{'7', 0, nullptr, 0});
}

int32_t write_thx_file(const char *path, uint8_t *image, uint32_t block)
{
    if (!record_size_ok()) {
        std::printf("Record size %d is out of range 0 to %d\n", int(record_size),
                    int(MAX_THX_RECORD_SIZE));
        return STATUS_FAILED;
    }
    OutputFile out;
    int32_t rc = output_open(&out, path);
    if (rc != 0)
        return rc;
    bool written = write_thx(out.stream, image, block) == 0;
    return output_finish(&out, written) == 0 ? STATUS_OK : STATUS_FAILED;
}
