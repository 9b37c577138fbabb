// The table of file types.
#include "driver/file_types.h"

#include <cstring>

#include "options.h"
#include "state.h"

void lower_type_name(const char *text, size_t n, char lower[TYPE_NAME_MAX + 1])
{
    std::memset(lower, 0, TYPE_NAME_MAX + 1);
    for (size_t i = 0; i < n && i < TYPE_NAME_MAX && text[i]; i++) {
        char c = text[i];
        lower[i] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
}

namespace {

// The type whose name is the first n characters of name, in any case.
const FileType *type_named(const char *name, size_t n)
{
    char lower[TYPE_NAME_MAX + 1];
    lower_type_name(name, n, lower);
    for (const FileType &t : file_types)
        if (!std::strcmp(t.name, lower))
            return &t;
    return nullptr;
}

}  // namespace

const FileType *find_file_type(const char *name)
{
    // A whole name of four characters (srec), else the first three count.
    size_t n = std::strlen(name);
    const FileType *whole = n == TYPE_NAME_MAX ? type_named(name, n) : nullptr;
    return whole ? whole : type_named(name, 3);
}

const FileType &input_type()
{
    const FileType *t = find_file_type(input_ext);
    return t ? *t : file_types[0];
}

const FileType *type_for_content(Content content)
{
    for (const FileType &t : file_types)
        if (t.input && t.content == content)
            return &t;
    return nullptr;
}
