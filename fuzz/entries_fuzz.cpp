// Entry areas: set_entry and stamp_entries with every kind of request, on an
// area that fills a buffer of its own so that any access past the limit is
// caught. The first bytes choose the request and where end and kept lie.
#include <cstring>
#include <vector>

#include "byte_order.h"
#include "module/entries.h"
#include "options.h"
#include "driver/run.h"
#include "state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8 || size > 8192)
        return -1;
    uint8_t mode = data[0];
    size_t room = data[1];                    // bytes behind end
    int32_t number = int32_t(get_be32(data + 2));
    size_t kept_back = data[6];               // kept lies this far before end
    data += 8;
    size -= 8;

    std::vector<uint8_t> buffer(size + room);
    if (size)
        std::memcpy(buffer.data(), data, size);
    if (room)
        std::memset(buffer.data() + size, 0xFF, room);
    uint8_t *start = buffer.data();
    uint8_t *end = start + size;
    uint8_t *kept = kept_back < size ? end - kept_back : start;
    EntryArea area{start, end, kept, end + room};

    init_state();
    uint32_t length = 0;
    switch (mode % 4) {
    case 0: {
        uint32_t value = 0;
        (void)set_entry(key_serial, area, SERIAL_DATA_SIZE, nullptr, &value, &length);
        break;
    }
    case 1: {
        uint8_t source[SERIAL_DATA_SIZE];
        put_be32(source, uint32_t(number));
        (void)set_entry(key_serial, area, SERIAL_DATA_SIZE, source, nullptr, &length);
        break;
    }
    default:
        serial_mode = (mode >> 2) % 3;
        serial_number = number;
        if (mode & 0x40)
            std::strcpy(configuration, "TYPE-TEXT");
        (void)stamp_entries(area, &length);
        break;
    }
    init_state();
    return 0;
}
