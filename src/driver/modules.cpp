// Command 2: the modules a run takes.
#include "driver/modules.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "driver/file_types.h"
#include "driver/info_file.h"
#include "module/image_builder.h"
#include "module_layout.h"
#include "options.h"
#include "records/elf_file.h"
#include "records/extents.h"
#include "records/hex.h"
#include "records/module_load.h"
#include "records/module_search.h"
#include "records/record_loader.h"
#include "state.h"
#include "status.h"

static_assert(MAX_LINK_TEXTS == MAX_MODULES, "every -l a run keeps names a module");

namespace {

// The info file of raw input, read for command 2; the run learns when it
// cannot be read.
InfoFileReader info_reader(Run *run)
{
    return {run, [](void *r, const char *path) {
                int32_t status = read_info_file(path);
                if (status > STATUS_FAILED && status < 0x1000)
                    static_cast<Run *>(r)->info_unreadable = true;
                return status;
            }};
}

// The loader of a record file that holds one module at the link address.
RecordFileLoader record_loader(Run *run)
{
    if (input_type().format == RecordFormat::INTEL_HEX)
        return {&run->load, nullptr,
                [](void *found, const char *path, uint8_t *image, uint32_t capacity, uint32_t block) {
                    return load_hex_records(static_cast<RecordLoad *>(found), path, image, capacity,
                                            block);
                }};
    return {&run->load, nullptr,
            [](void *found, const char *path, uint8_t *image, uint32_t capacity, uint32_t block) {
                return load_records(static_cast<RecordLoad *>(found), path, image, capacity, block);
            }};
}

// The input is read whole: an ELF file, or a record file under -w.
bool read_whole()
{
    RecordFormat f = input_type().format;
    if (options & OPT_IN_R9500)
        return false;
    return f == RecordFormat::ELF ||
           ((options & OPT_WHOLE) && (f == RecordFormat::S_RECORDS || f == RecordFormat::INTEL_HEX));
}

int compare_addresses(const void *a, const void *b)
{
    uint64_t x = *static_cast<const uint64_t *>(a), y = *static_cast<const uint64_t *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

// The modules the -l options name, each once, in address order: an ELF64
// file's addresses take all of each -l.
void linked_modules(RecordLoad *found)
{
    int n = 0;
    for (int i = 0; i < link_count && i < MAX_LINK_TEXTS; i++) {
        uint64_t address = found->wide ? parse_hex_wide(link_texts[i]) : parse_hex(link_texts[i]);
        bool again = false;
        for (int k = 0; k < n; k++)
            again = again || found->modules[k] == address;
        if (!again)
            found->modules[n++] = address;
    }
    std::qsort(found->modules, size_t(n), sizeof found->modules[0], compare_addresses);
    found->module_count = n;
}

int32_t no_modules(const RecordLoad &found, int count)
{
    char loaded[200];
    describe_extents(found.extents, loaded, sizeof loaded);
    if (count == 0)
        std::printf("No module found in %s, which loads %s, Aborting\n", input_path,
                    loaded[0] ? loaded : "nothing");
    else
        std::printf("%s holds %d modules, more than the %d one run takes, Aborting\n", input_path,
                    count, MAX_MODULES);
    return ERR_MODULE_NOT_FOUND;
}

// The modules of the file: those -l names, or all it holds.
int32_t choose_modules(RecordLoad *found)
{
    if (link_count > MAX_LINK_TEXTS)
        return no_modules(*found, link_count);
    if (link_count > 0) {
        linked_modules(found);
    } else {
        FILE *f = found->extents.in_file ? std::fopen(input_path, "rb") : nullptr;
        int count = 0;
        bool read = (!found->extents.in_file || f) &&
                    find_modules(found->extents, f, found->modules, MAX_MODULES, &count);
        if (f)
            std::fclose(f);
        if (!read) {
            std::printf("Unable to read %s to its end, Aborting\n", input_path);
            return ERR_READ_SHORT;
        }
        if (count == 0 || count > MAX_MODULES)
            return no_modules(*found, count);
        found->module_count = count;
    }
    // One file of one module cannot hold several.
    bool one_module_outputs = (options & (OPT_OUT_MODULE | OPT_OUT_THD | OPT_UPGRADE)) ||
                              serial_mode != SERIAL_NONE || configuration[0] != 0;
    if (found->module_count > 1 && one_module_outputs) {
        std::printf("%d modules in one run: -o, -t, -d, -s, -x and -u write one module, Aborting\n",
                    found->module_count);
        return ERR_SEVERAL_MODULES;
    }
    return STATUS_OK;
}

// The first module's image is sized once the file's loaded bytes are read
// and the modules chosen; the others', from those.
int32_t size_next_module(void *run, const char *path, uint64_t file_size, uint32_t *capacity)
{
    RecordLoad *found = &static_cast<Run *>(run)->load;
    if (found->current == 0) {
        int32_t rc = input_type().format == RecordFormat::ELF
                         ? load_elf_file(found, path)
                         : load_record_extents(found, path, input_type().format);
        if (rc == STATUS_OK)
            rc = choose_modules(found);
        if (rc != STATUS_OK)
            return rc;
    }
    link_address = uint32_t(found->modules[found->current]);
    link_address_wide = found->modules[found->current];
    return size_module(found, path, file_size, capacity);
}

RecordFileLoader module_loader(Run *run)
{
    return {run, size_next_module,
            [](void *r, const char *path, uint8_t *image, uint32_t capacity, uint32_t block) {
                return load_module(&static_cast<Run *>(r)->load, path, image, capacity, block);
            }};
}

// The start of a module's summary line, which a JSON report does without.
void print_run_line()
{
    if (!(options & OPT_JSON))
        std::printf("\ttarvel %s ", input_path);
}

// What the run keeps of the module just built, while its image is there.
void report_module(Run *run, const BuiltModule &built, int32_t status)
{
    ModuleReport &m = run->modules[run->reported++];
    m = ModuleReport{};
    m.address = run->load.modules[run->load.current];
    m.stored = built.stored;
    m.crc = built.crc;
    m.status = status;
    const uint8_t *image = module_image;
    if (!image || image_block_size < HEADER_SIZE)
        return;
    m.size = get_be32(image + HDR_SIZE);
    m.type = image[HDR_TYPE];
    m.number = image[HDR_NUMBER];
    m.version = get_be16(image + HDR_VERSION);
    std::memcpy(m.tag, image + HDR_TAG, TAG_SIZE);
    uint32_t name_at = get_be32(image + HDR_NAME_OFFSET);
    for (uint32_t i = 0; i + 1 < sizeof m.name && name_at + i < image_block_size && image[name_at + i];
         i++)
        m.name[i] = char(image[name_at + i]);
}

}  // namespace

int32_t load_modules(Run *run)
{
    RecordLoad *found = &run->load;
    if (!read_whole()) {
        print_run_line();
        BuiltModule built = {};
        int32_t status = build_image(record_loader(run), info_reader(run), &built);
        found->module_count = 1;
        found->modules[0] = link_address;
        found->crcs[0] = built.crc;
        report_module(run, built, status);
        return status;
    }
    // Under -k every module is checked, each CRC reported, before a wrong
    // one fails the run.
    int32_t wrong = STATUS_OK;
    found->current = 0;
    do {
        print_run_line();
        BuiltModule built = {};
        int32_t status = build_image(module_loader(run), info_reader(run), &built);
        found->crcs[found->current] = built.crc;
        if (found->module_count > 0)
            report_module(run, built, status);
        if (status == ERR_CRC_WRONG && wrong == STATUS_OK)
            wrong = status;
        else if (status != STATUS_OK)
            return status;
    } while (++found->current < found->module_count);
    return wrong;
}
