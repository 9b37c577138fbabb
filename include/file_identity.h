// Who a file is and how it stands: two looks at the same unchanged file
// give the same identity.
#pragma once

#include <cstdint>

struct FileIdentity {
    uint64_t device;
    uint64_t inode;
    uint64_t size;
    int64_t modified_ns;
};

inline bool same_identity(const FileIdentity &a, const FileIdentity &b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified_ns == b.modified_ns;
}
