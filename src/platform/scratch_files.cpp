// Scratch files of a run: staged for their targets, renamed into place
// together, removed when the run fails or is interrupted.
#include "platform/scratch_files.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "path_limits.h"
#include "platform/durability.h"
#include "platform/file_names.h"
#include "platform/new_file.h"

namespace {

// A run makes a few: its outputs' temporary files, the .new file, the
// .bak link, generic.tmp's successor, a stamped module or raw file. The
// staged ones commit in the order they were staged, whatever their slots.
constexpr int MAX_SCRATCH = 32;
constexpr size_t SCRATCH_NAME_SIZE = PATH_BUFFER_SIZE + 64;
// Names taken by leftovers of killed runs (or planted by someone else) are
// stepped over; this many in a row means something else is wrong.
constexpr unsigned TEMP_ATTEMPTS = 100;

// Read by the signal handler: a slot's name is complete before it is marked
// used, and a slot is unmarked before its name changes.
struct Scratch {
    volatile std::sig_atomic_t used;
    char path[SCRATCH_NAME_SIZE];
    char target[SCRATCH_NAME_SIZE];  // where it goes at the commit; empty until staged
    int step;
    int order;                       // its place among the staged files, from 1
};
Scratch scratch[MAX_SCRATCH];
int scratch_count = 0;
bool handlers_installed = false;
unsigned temp_counter = 0;
int current_step = 0;
int staged_count = 0;

void remove_all_scratch()
{
    for (Scratch &s : scratch) {
        if (!s.used)
            continue;
#ifdef _WIN32
        DeleteFileA(s.path);
#else
        unlink(s.path);
#endif
    }
}

unsigned long process_id()
{
#ifdef _WIN32
    return static_cast<unsigned long>(_getpid());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// Renames from over to, replacing an existing file in one step.
bool rename_over(const char *from, const char *to)
{
#ifdef _WIN32
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return std::rename(from, to) == 0;
#endif
}

bool hard_link(const char *existing, const char *new_name)
{
#ifdef _WIN32
    return CreateHardLinkA(new_name, existing, nullptr) != 0;
#else
    return link(existing, new_name) == 0;
#endif
}

#ifdef _WIN32

// Runs on a thread of its own. The files are created with delete sharing,
// so an open one goes when its last handle closes; returning FALSE lets the
// default handler end the process as Ctrl-C does.
BOOL WINAPI on_console_event(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT)
        remove_all_scratch();
    return FALSE;
}

void install_handlers() { SetConsoleCtrlHandler(on_console_event, TRUE); }

// The console handler runs beside the main thread: nothing to hold back.
struct HeldSignals {};
void hold_signals(HeldSignals *) {}
void release_signals(const HeldSignals *) {}

#else

constexpr int WATCHED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Only async-signal-safe calls: unlink, and then the signal once more with
// its default action, which ends the process as it would have without us.
extern "C" void on_signal(int sig)
{
    remove_all_scratch();
    raise(sig);
}

void install_handlers()
{
    for (int sig : WATCHED_SIGNALS) {
        struct sigaction old;
        // A signal the run was started to ignore (a background job's
        // SIGINT) stays ignored.
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        struct sigaction act = {};
        act.sa_handler = on_signal;
        sigemptyset(&act.sa_mask);
        // Reset to the default and not blocked, so that raise() ends the run.
        act.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigaction(sig, &act, nullptr);
    }
}

// The watched signals are held back while a file is created and entered,
// so that an interruption finds it entered; they arrive when released.
struct HeldSignals {
    sigset_t before;
};

void hold_signals(HeldSignals *held)
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : WATCHED_SIGNALS)
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &held->before);
}

void release_signals(const HeldSignals *held) { sigprocmask(SIG_SETMASK, &held->before, nullptr); }

#endif

Scratch *find(const char *path)
{
    for (int i = 0; i < scratch_count; i++)
        if (scratch[i].used && std::strcmp(scratch[i].path, path) == 0)
            return &scratch[i];
    return nullptr;
}

// The slot for a file made at path: its own when a file made there before
// is still entered, else a free one or a new one; null when all are taken.
Scratch *slot_for(const char *path)
{
    if (Scratch *s = find(path))
        return s;
    for (int i = 0; i < scratch_count; i++)
        if (!scratch[i].used)
            return &scratch[i];
    return scratch_count < MAX_SCRATCH ? &scratch[scratch_count++] : nullptr;
}

void enter(Scratch &s, const char *path)
{
    std::snprintf(s.path, sizeof s.path, "%s", path);
    s.target[0] = 0;
    s.step = 0;
    s.order = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    s.used = 1;
}

// Makes a file with make(path) and enters it, with the signals held so
// that an interruption always finds it entered.
template <class Make> bool make_entered(const char *path, Make make)
{
    if (!handlers_installed) {
        install_handlers();
        handlers_installed = true;
    }
    HeldSignals held;
    hold_signals(&held);
    // A file the run could neither remove on an interruption nor put in
    // place is not made.
    Scratch *slot = slot_for(path);
    bool made = slot && make(path);
    int err = slot ? errno : EMFILE;
    if (made)
        enter(*slot, path);
    release_signals(&held);
    errno = err;
    return made;
}

// Tries make at fresh temporary names beside target until one is free.
template <class Make> bool make_temporary(const char *target, char *name, size_t size, Make make)
{
    // A short name of its own in the target's directory, whatever the
    // length of the target's name.
    int directory = int(directory_length(target));
    for (unsigned attempt = 0; attempt < TEMP_ATTEMPTS; attempt++) {
        std::snprintf(name, size, "%.*s.tarvel-%lu-%u.tmp", directory, target, process_id(),
                      temp_counter++);
        if (make_entered(name, make))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

void forget(Scratch *s)
{
    s->used = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

}  // namespace

FILE *create_scratch_file(const char *path, bool replace)
{
    FILE *f = nullptr;
    make_entered(path, [&](const char *p) {
        f = replace ? recreate_file(p) : create_new_file(p);
        return f != nullptr;
    });
    return f;
}

FILE *create_temporary_file(const char *target, char *name, size_t size)
{
    FILE *f = nullptr;
    make_temporary(target, name, size, [&](const char *p) {
        f = create_new_file(p);
        return f != nullptr;
    });
    return f;
}

bool link_temporary_file(const char *existing, const char *target, char *name, size_t size)
{
    return make_temporary(target, name, size, [&](const char *p) {
        if (!hard_link(existing, p))
            return false;
        note_directory_changed(p);
        return true;
    });
}

void staging_step(int step) { current_step = step; }

void stage_scratch_file(const char *path, const char *target)
{
    if (Scratch *s = find(path)) {
        std::snprintf(s->target, sizeof s->target, "%s", target);
        s->step = current_step;
        s->order = ++staged_count;
    }
}

bool commit_staged_files(int *failed_step)
{
    for (int order = 1; order <= staged_count; order++) {
        Scratch *staged = nullptr;
        for (int i = 0; i < scratch_count && !staged; i++)
            if (scratch[i].used && scratch[i].order == order)
                staged = &scratch[i];
        if (!staged)
            continue;
        Scratch &s = *staged;
        if (!rename_over(s.path, s.target)) {
            int err = errno;
            *failed_step = s.step;
            discard_scratch_files();
            errno = err;
            return false;
        }
        forget(&s);
        note_directory_changed(s.target);
    }
    discard_scratch_files();
    return true;
}

void discard_scratch_files()
{
    int saved_errno = errno;
    for (int i = 0; i < scratch_count; i++) {
        Scratch &s = scratch[i];
        if (!s.used)
            continue;
        // Removed first: an interruption in between finds the name gone.
        std::remove(s.path);
        forget(&s);
    }
    scratch_count = 0;
    current_step = 0;
    staged_count = 0;
    errno = saved_errno;
}

void remove_scratch_file(const char *path)
{
    std::remove(path);
    if (Scratch *s = find(path))
        forget(s);
}
