// The table of file types.
#include "driver/file_types.h"

#include <cstring>

#include "options.h"
#include "state.h"

const FileType *find_file_type(const char *name)
{
    char lower[4] = {};
    for (int i = 0; i < 3 && name[i]; i++) {
        char c = name[i];
        lower[i] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    for (const FileType &t : file_types)
        if (!std::strcmp(t.name, lower))
            return &t;
    return nullptr;
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
