// Info files and the configuration records of generic.tmp.
#include "driver/info_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "byte_order.h"
#include "driver/option_parser.h"
#include "module/entries.h"
#include "module_layout.h"
#include "platform/durability.h"
#include "platform/new_file.h"
#include "platform/run_lock.h"
#include "platform/scratch_files.h"
#include "state.h"
#include "status.h"

namespace {

constexpr int INFO_LINE_SIZE = 260;  // a longer line is read as several lines

// Keywords in the order they are tried; a line matches a keyword it begins with.
struct Keyword {
    const char *text;
    int letter;
};
constexpr Keyword keywords[] = {
    {"tag", 'A'},     {"#", '#'},      {"name", '@'},          {"version", 'R'}, {"type", 'Y'},
    {"SNBR", 'S'},    {"number", 'N'}, {"configuration", 'X'}, {"CFG", '_'},
};

// Configuration record, written as one block:
//
//   OFFSET WIDTH CONTENT
//   0      8     key "_CFG", four zero bytes
//   8      4     length, always 24 (not the 20 data bytes that follow)
//   12     8     first word, zero-filled, no terminator at 8 characters
//   20     8     second word, same form
//   28     4     the number, two's complement; 24 when the text has none
constexpr uint32_t CFG_WORD1 = 12;
constexpr uint32_t CFG_WORD2 = 20;
constexpr uint32_t CFG_NUMBER = 28;
constexpr uint32_t CFG_WORD_SIZE = 8;
constexpr uint32_t CFG_LENGTH = 24;
constexpr uint32_t CFG_DEFAULT_NUMBER = 24;
static_assert(CFG_NUMBER + 4 == CFG_RECORD_SIZE);

char info_line[INFO_LINE_SIZE];

// Closes generic.tmp's successor, put on disk: it takes generic.tmp's
// place when the run commits.
void close_cfg_file(int32_t *status)
{
    if (!cfg_file)
        return;
    bool on_disk = flush_to_disk(cfg_file) == 0;
    if ((std::fclose(cfg_file) != 0 || !on_disk) && *status == STATUS_OK)
        *status = ERR_WRITE_SHORT;
    cfg_file = nullptr;
}

// The first record of the run starts generic.tmp's successor under a name
// of its own beside it; after an info file has closed it, later records of
// the run are appended to it rather than lost.
FILE *open_cfg_file()
{
    if (cfg_created)
        return append_existing_file(cfg_file_name);
    if (!name_can_be_replaced(CFG_FILE_NAME)) {
        errno = EISDIR;
        return nullptr;
    }
    FILE *f = create_temporary_file(CFG_FILE_NAME, cfg_file_name, sizeof cfg_file_name);
    if (!f)
        return nullptr;
    copy_permissions(CFG_FILE_NAME, f);
    stage_scratch_file(cfg_file_name, CFG_FILE_NAME);
    return f;
}

// Letter of the first keyword the line begins with, or -1.
int find_keyword(const char *line)
{
    for (const Keyword &k : keywords)
        if (std::strncmp(line, k.text, std::strlen(k.text)) == 0)
            return k.letter;
    return -1;
}

}  // namespace

bool info_file_writes_cfg(const char *path)
{
    FILE *f = path ? std::fopen(path, "r") : nullptr;
    if (!f)
        return false;
    bool found = false;
    while (!found && std::fgets(info_line, sizeof info_line, f))
        found = find_keyword(info_line) == '_';
    std::fclose(f);
    return found;
}

int32_t read_info_file(const char *path)
{
    if (!path) {
        errno = ENOENT;  // no -f: fails as a missing file would
        return ENOENT;
    }
    FILE *f = std::fopen(path, "r");
    if (!f)
        return errno;

    int32_t status = STATUS_OK;
    while (std::fgets(info_line, sizeof info_line, f)) {
        if (info_line[0] == 0)
            continue;
        info_line[std::strcspn(info_line, "\r\n\x1A")] = 0;
        if (info_line[0] == 0)
            continue;
        int letter = find_keyword(info_line);
        const char *equals = std::strchr(info_line, '=');
        // A keyword line without a value is refused like an unknown line,
        // rather than acting on an empty value (SNBR would store 0).
        if (!equals && letter != '#')
            letter = -1;
        status = set_option(letter, equals ? equals + 1 : "");
        if (status != STATUS_OK) {
            std::printf("%s\n", info_line);
            break;
        }
    }
    if (status == STATUS_OK && std::ferror(f))
        status = ERR_READ_SHORT;
    std::fclose(f);
    close_cfg_file(&status);
    return status;
}

int32_t write_cfg_record(const char *value)
{
    if (!cfg_file) {
        // generic.tmp has one fixed name in the working directory: runs that
        // write it there take turns.
        lock_scratch_name(CFG_FILE_NAME);
        cfg_file = open_cfg_file();
        if (!cfg_file)
            return ERR_CFG_FILE;
        cfg_created = 1;
    }

    uint8_t record[CFG_RECORD_SIZE] = {};
    std::memcpy(record + ENTRY_KEY, key_config, ENTRY_KEY_SIZE);
    put_be32(record + ENTRY_LENGTH, CFG_LENGTH);
    put_be32(record + CFG_NUMBER, CFG_DEFAULT_NUMBER);
    char word1[CFG_WORD_SIZE + 1] = {};
    char word2[CFG_WORD_SIZE + 1] = {};
    long number = 0;
    // A word longer than 8 characters runs on into the next field.
    int fields = std::sscanf(value, "%8s %8s %ld", word1, word2, &number);
    std::memcpy(record + CFG_WORD1, word1, std::strlen(word1));
    std::memcpy(record + CFG_WORD2, word2, std::strlen(word2));
    if (fields == 3)
        put_be32(record + CFG_NUMBER, uint32_t(static_cast<unsigned long>(number)));

    // Flushed at once, so that a full disk shows here and not at exit.
    if (std::fwrite(record, 1, CFG_RECORD_SIZE, cfg_file) != CFG_RECORD_SIZE ||
        std::fflush(cfg_file) != 0) {
        std::fclose(cfg_file);
        cfg_file = nullptr;
        return ERR_WRITE_SHORT;
    }
    return STATUS_OK;
}

int32_t finish_cfg_file()
{
    int32_t status = STATUS_OK;
    close_cfg_file(&status);
    return status;
}
