// The file pair of the CRC patch copy.
#include "records/file_pair.h"

#include <cerrno>
#include <cstdio>

#include "platform/new_file.h"
#include "platform/scratch_files.h"
#include "platform/run_lock.h"
#include "state.h"

int32_t open_file_pair(const char *in_path, const char *out_path)
{
    pair_in = std::fopen(in_path, "rb");
    if (!pair_in) {
        int32_t err = errno;
        std::printf("Unable to open input file %s\n", in_path);
        return err;
    }
    open_flags |= OPEN_IN_FILE;
    // A fixed name: whatever stands there is removed, so that a planted
    // link cannot make the copy write into another file.
    pair_out = create_scratch_file(out_path, true);
    if (!pair_out) {
        int32_t err = errno;
        std::printf("Unable to open output file %s\n", out_path);
        std::fclose(pair_in);
        pair_in = nullptr;
        open_flags &= ~OPEN_IN_FILE;
        return err;
    }
    open_flags |= OPEN_OUT_FILE;
    // The copy takes the input's place and keeps its permission bits.
    copy_permissions(in_path, pair_out);
    // The copy is renamed over the input later; the lock goes with it.
    lock_new_file(pair_out);
    return 0;
}

int close_file_pair()
{
    int rc = 0;
    if (open_flags & OPEN_IN_FILE) {
        std::fclose(pair_in);
        pair_in = nullptr;
        open_flags &= ~OPEN_IN_FILE;
    }
    if (open_flags & OPEN_OUT_FILE) {
        if (std::fclose(pair_out) != 0)
            rc = -1;
        pair_out = nullptr;
        open_flags &= ~OPEN_OUT_FILE;
    }
    return rc;
}
