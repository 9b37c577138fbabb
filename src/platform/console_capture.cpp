// Holding back standard output in a file of its own.
#include "platform/console_capture.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

int console_fd = -1;  // standard output as it was
FILE *held = nullptr;  // the file that takes its place

#ifdef _WIN32

// A file of the system's temporary folder that goes when it is closed.
FILE *held_file()
{
    char folder[MAX_PATH], name[MAX_PATH];
    if (!GetTempPathA(sizeof folder, folder) || !GetTempFileNameA(folder, "tvl", 0, name))
        return nullptr;
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    FILE *f = _fdopen(fd, "w+b");
    if (!f)
        _close(fd);
    return f;
}

int duplicate(int fd) { return _dup(fd); }
int duplicate_to(int fd, int to) { return _dup2(fd, to); }
void close_fd(int fd) { _close(fd); }
int stdout_fd() { return _fileno(stdout); }

#else

// A file of no name: the system removes it when it is closed.
FILE *held_file() { return std::tmpfile(); }
int duplicate(int fd) { return dup(fd); }
int duplicate_to(int fd, int to) { return dup2(fd, to); }
void close_fd(int fd) { close(fd); }
int stdout_fd() { return fileno(stdout); }

#endif

}  // namespace

bool hold_stdout()
{
    if (held)
        return true;
    std::fflush(stdout);
    held = held_file();
    console_fd = held ? duplicate(stdout_fd()) : -1;
    if (console_fd < 0 || duplicate_to(fileno(held), stdout_fd()) < 0) {
        if (console_fd >= 0)
            close_fd(console_fd);
        if (held)
            std::fclose(held);
        held = nullptr;
        console_fd = -1;
        return false;
    }
    return true;
}

char *release_stdout(size_t *length)
{
    *length = 0;
    if (!held)
        return nullptr;
    std::fflush(stdout);
    duplicate_to(console_fd, stdout_fd());
    close_fd(console_fd);
    console_fd = -1;
    char *text = nullptr;
    long n = std::ftell(held);
    if (n >= 0 && std::fseek(held, 0, SEEK_SET) == 0 && (text = static_cast<char *>(std::malloc(size_t(n) + 1)))) {
        *length = std::fread(text, 1, size_t(n), held);
        text[*length] = 0;
    }
    std::fclose(held);
    held = nullptr;
    return text;
}
