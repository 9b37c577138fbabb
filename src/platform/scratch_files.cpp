// Scratch files of a run, removed when the run is interrupted.
#include "platform/scratch_files.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "path_limits.h"
#include "platform/new_file.h"

namespace {

// A run holds a few at a time: an output's temporary file, the .new file,
// the temporary copy of a .bak file.
constexpr int MAX_SCRATCH = 8;
constexpr size_t SCRATCH_NAME_SIZE = PATH_BUFFER_SIZE + 64;

// Read by the signal handler: a slot's name is complete before it is marked
// used, and a slot is unmarked before its name changes.
struct Scratch {
    volatile std::sig_atomic_t used;
    char path[SCRATCH_NAME_SIZE];
};
Scratch scratch[MAX_SCRATCH];
bool handlers_installed = false;

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

void enter(const char *path)
{
    for (Scratch &s : scratch) {
        if (s.used)
            continue;
        std::snprintf(s.path, sizeof s.path, "%s", path);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        s.used = 1;
        return;
    }
}

}  // namespace

FILE *create_scratch_file(const char *path, bool replace)
{
    if (!handlers_installed) {
        install_handlers();
        handlers_installed = true;
    }
    HeldSignals held;
    hold_signals(&held);
    FILE *f = replace ? recreate_file(path) : create_new_file(path);
    int err = errno;
    if (f)
        enter(path);
    release_signals(&held);
    errno = err;
    return f;
}

void forget_scratch_file(const char *path)
{
    for (Scratch &s : scratch)
        if (s.used && std::strcmp(s.path, path) == 0)
            s.used = 0;
}

void remove_scratch_file(const char *path)
{
    // Removed first: an interruption in between finds the name gone.
    std::remove(path);
    forget_scratch_file(path);
}
