// Loading a record file into the module image.
#include "records/record_loader.h"

#include <cstdio>
#include <cstring>

#include "module/loader_input.h"
#include "module/module_format.h"
#include "records/record_reader.h"
#include "state.h"
#include "status.h"

int32_t load_records(const char *path, uint8_t *image, uint32_t capacity, uint32_t block)
{
    FILE *f;
    if (int32_t rc = open_loader_input(path, capacity, block, &f); rc != STATUS_OK)
        return rc;
    RecordFile reader;
    if (record_file_start(&reader, f) != STATUS_OK) {
        std::fclose(f);
        return ERR_NO_MEMORY;
    }

    DecodeState state = {};
    uint32_t total = 0;
    int32_t status = STATUS_OK;
    for (;;) {
        int32_t n = read_record(&reader, record_buffer, RECORD_BUFFER_SIZE);
        if (n <= 0)
            break;
        // Stray bytes and lines longer than any record carry no record.
        if (n == REC_LONG_LINE) {
            while (read_line_part(&reader, record_buffer, RECORD_BUFFER_SIZE) == REC_LONG_LINE) {
            }
            continue;
        }
        if (is_stray_byte(n))
            continue;
        int32_t rc = decode_record(&state, record_buffer, n);
        if (rc == REC_END)
            break;
        if (rc != 0 || !is_data_record(record_buffer))
            continue;

        uint32_t offset = state.address - link_address;
        if (offset == 0)
            link_record = state.count;
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
    std::fclose(f);

    loaded_bytes = total;
    fill_summary(image, block);
    return status;
}
