// Byte-wise stream access without the stream lock. The tool runs on one
// thread, so the lock that getc and putc take for every byte buys nothing;
// record files can be tens of megabytes.
#pragma once

#include <cstdio>

inline int getc_fast(FILE *file)
{
#if defined(_WIN32)
    return _getc_nolock(file);
#else
    return getc_unlocked(file);
#endif
}

inline int putc_fast(int c, FILE *file)
{
#if defined(_WIN32)
    return _putc_nolock(c, file);
#else
    return putc_unlocked(c, file);
#endif
}
