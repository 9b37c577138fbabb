// A run reported as one JSON document.
#include "driver/json_report.h"

#include <cstdio>
#include <cstring>

#include "driver/file_types.h"
#include "module_layout.h"
#include "options.h"
#include "records/record_loader.h"
#include "state.h"
#include "status.h"
#include "version.h"

namespace {

// The names of the statuses a run ends with.
struct StatusName {
    int32_t status;
    const char *name;
};
constexpr StatusName STATUS_NAMES[] = {
    {STATUS_FAILED, "STATUS_FAILED"},          {STATUS_RENAME_FAILED, "STATUS_RENAME_FAILED"},
    {STATUS_NO_IMAGE, "STATUS_NO_IMAGE"},      {ERR_READ_SHORT, "ERR_READ_SHORT"},
    {ERR_WRITE_SHORT, "ERR_WRITE_SHORT"},      {ERR_IMAGE_FIT, "ERR_IMAGE_FIT"},
    {ERR_NO_MEMORY, "ERR_NO_MEMORY"},          {ERR_TYPE_BITS, "ERR_TYPE_BITS"},
    {ERR_ENTRY_LENGTH, "ERR_ENTRY_LENGTH"},    {ERR_ENTRY_ROOM, "ERR_ENTRY_ROOM"},
    {ERR_ENTRY_MISSING, "ERR_ENTRY_MISSING"},  {ERR_CFG_FILE, "ERR_CFG_FILE"},
    {ERR_RECORD_SUM, "ERR_RECORD_SUM"},        {ERR_ELF_FILE, "ERR_ELF_FILE"},
    {ERR_CRC_WRONG, "ERR_CRC_WRONG"},          {ERR_CRC_NOT_IN_FILE, "ERR_CRC_NOT_IN_FILE"},
    {ERR_MODULE_NOT_FOUND, "ERR_MODULE_NOT_FOUND"}, {ERR_NO_MODULE, "ERR_NO_MODULE"},
    {ERR_INPUT_TYPE, "ERR_INPUT_TYPE"},        {ERR_OUTPUT_TYPE, "ERR_OUTPUT_TYPE"},
    {ERR_TYPE_LETTER, "ERR_TYPE_LETTER"},      {ERR_CHECK_WRITES, "ERR_CHECK_WRITES"},
    {ERR_SEVERAL_MODULES, "ERR_SEVERAL_MODULES"}, {ERR_JSON_RAW, "ERR_JSON_RAW"},
};

const char *status_name(int32_t status)
{
    if ((status & ~0xFF) == ERR_MODULE_CHECK)
        return "ERR_MODULE_CHECK";
    for (const StatusName &s : STATUS_NAMES)
        if (s.status == status)
            return s.name;
    // Otherwise the C library's error number of a file that could not be opened.
    return "ERRNO";
}

// A JSON string of n bytes: quotes, backslashes and every byte that is
// no printable ASCII character escaped, so the document is ASCII whatever
// the bytes are.
void put_string(const char *bytes, size_t n)
{
    std::putchar('"');
    for (size_t i = 0; i < n; i++) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '"' || c == '\\')
            std::printf("\\%c", c);
        else if (c == '\n')
            std::printf("\\n");
        else if (c < 0x20 || c >= 0x7F)
            std::printf("\\u%04x", unsigned(c));
        else
            std::putchar(c);
    }
    std::putchar('"');
}

void put_text(const char *text) { put_string(text, std::strlen(text)); }

// The address as the tool writes it: eight hex digits at least.
void put_address(uint64_t address) { std::printf("\"%08llX\"", static_cast<unsigned long long>(address)); }

// The module's state after the run: set when the run wrote its CRC, else
// what the file holds.
const char *state_of(const ModuleReport &m, bool set)
{
    if (set)
        return "set";
    return m.stored == m.crc ? "correct" : m.stored == CRC_UNSET ? "unset" : "wrong";
}

// Where each module's CRC bytes lie in the file: their byte offsets, and
// their lines in a file of record lines, which is read once for them all.
void find_crc_bytes(const Run &run, CrcByte (*bytes)[2])
{
    const FileType &t = input_type();
    int n = run.reported;
    for (int i = 0; i < n; i++)
        bytes[i][0] = bytes[i][1] = CrcByte{};
    if (t.format == RecordFormat::ELF) {
        const CopyPlan &plan = run.load.plan;
        for (int k = 0; k < plan.patched_count; k++) {
            const PatchedRecord &r = plan.patched[k];
            if (r.module < n && r.address < 2)
                bytes[r.module][r.address] = {true, r.offset, 0};
        }
    } else if (t.format == RecordFormat::NONE) {
        for (int i = 0; i < n; i++) {
            bytes[i][0] = {true, 0, 0};  // a module file is the module
            bytes[i][1] = {true, 1, 0};
        }
    } else {
        uint32_t addresses[MAX_MODULES];
        for (int i = 0; i < n; i++)
            addresses[i] = uint32_t(run.modules[i].address);
        locate_crc_bytes(input_path, t.format, addresses, n, bytes);
    }
}

void put_crc_bytes(const CrcByte bytes[2])
{
    std::printf("\"crc_bytes\": [");
    for (int k = 0; k < 2; k++) {
        if (k)
            std::printf(", ");
        if (!bytes[k].found) {
            std::printf("null");
            continue;
        }
        std::printf("{\"offset\": %llu", static_cast<unsigned long long>(bytes[k].offset));
        if (bytes[k].line)
            std::printf(", \"line\": %llu", static_cast<unsigned long long>(bytes[k].line));
        std::printf("}");
    }
    std::printf("]");
}

void put_module(const ModuleReport &m, const CrcByte crc_bytes[2], bool set)
{
    std::printf("    {\"address\": ");
    put_address(m.address);
    std::printf(", \"size\": %lu, \"name\": ", static_cast<unsigned long>(m.size));
    put_text(m.name);
    std::printf(", \"tag\": ");
    put_string(reinterpret_cast<const char *>(m.tag), sizeof m.tag);
    std::printf(", \"type\": %u, \"number\": %u, \"version\": %u,\n", unsigned(m.type),
                unsigned(m.number), unsigned(m.version));
    std::printf("     \"crc_before\": \"%04x\", \"crc_after\": \"%04x\", \"crc\": \"%04x\", "
                "\"state\": \"%s\",\n     ", unsigned(m.stored), unsigned(set ? m.crc : m.stored),
                unsigned(m.crc), state_of(m, set));
    put_crc_bytes(crc_bytes);
    std::printf("}");
}

// The text the run printed, but the line that numbers the failed command.
void put_message(const char *printed)
{
    const char *error_line = std::strstr(printed, "Error ");
    while (error_line && error_line != printed && error_line[-1] != '\n')
        error_line = std::strstr(error_line + 1, "Error ");
    size_t n = error_line ? size_t(error_line - printed) : std::strlen(printed);
    while (n > 0 && printed[n - 1] == '\n')
        n--;
    put_string(printed, n);
}

}  // namespace

void print_json_report(const Run &run, const FileCrcReport &file, const char *printed,
                       const char *explanation)
{
    std::printf("{\n  \"tarvel\": \"%s\",\n", TARVEL_VERSION);
    if (file.done) {
        std::printf("  \"file\": {\"name\": ");
        put_text(input_path ? input_path : "");
        std::printf(", \"size\": %lld, \"crc\": \"%04x\"},\n", static_cast<long long>(file.size),
                    unsigned(file.crc));
    } else if (input_path) {
        std::printf("  \"input\": {\"file\": ");
        put_text(input_path);
        std::printf(", \"type\": \"%s\"},\n", input_ext);
    }
    // A run that checks writes nothing; one that sets writes every CRC when it succeeds.
    bool set = run.committed && !(options & OPT_CHECK);
    CrcByte crc_bytes[MAX_MODULES][2];
    find_crc_bytes(run, crc_bytes);
    std::printf("  \"modules\": [");
    int shown = 0;
    for (int i = 0; i < run.reported; i++) {
        if (run.modules[i].status != STATUS_OK && run.modules[i].status != ERR_CRC_WRONG)
            continue;
        std::printf("%s\n", shown++ ? "," : "");
        put_module(run.modules[i], crc_bytes[i], set);
    }
    std::printf("%s],\n  \"status\": %ld", shown ? "\n  " : "", static_cast<long>(run.status));
    if (run.status != STATUS_OK) {
        std::printf(",\n  \"error\": {\"name\": \"%s\", \"command\": %d, \"message\": ",
                    status_name(run.status), run.failed_command);
        put_message(printed ? printed : "");
        std::printf(",\n            \"explanation\": ");
        put_text(explanation);
        std::printf("}");
    }
    std::printf("\n}\n");
}
