// Helpers shared by the tests: temporary directories, files as byte strings,
// capturing stdout of in-process calls, and running the built tool.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

using Bytes = std::string;  // file contents, byte for byte

// A fresh directory that is removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void write_file(const std::string &path, const Bytes &content);

// The files of a directory by name; laying them out empties it first.
using Files = std::map<std::string, Bytes>;
Files files_in(const std::string &dir);
void lay_out(const TempDir &dir, const Files &files);
Bytes read_file(const std::string &path);
bool file_exists(const std::string &path);
Bytes hex_bytes(const std::string &hex);  // "87 CD F0 0F" -> bytes

// For tests that use other tools: whether tool is on the PATH, a shell
// command run in dir (its exit code), the lines of a text without their
// line feeds, and bytes as upper-case hex text.
bool have_tool(const char *tool);
int shell(const std::string &dir, const std::string &command);
std::vector<std::string> lines_of(const Bytes &text);
std::string hex_text(const Bytes &bytes);

// Captures what the code between start and stop prints on stdout.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    std::string stop();

private:
    int saved_fd_;
    std::string path_;
    bool active_;
};

struct RunResult {
    int exit_code;
    std::string out;
    std::string err = {};  // standard error
    long max_rss_kb = 0;   // the run's peak resident memory
};

// Runs the built tarvel with args in directory dir. The environment can
// point it elsewhere: TARVEL_EXE names another executable and TARVEL_RUNNER
// a program to run it with (TARVEL_RUNNER=wine for the Windows build, whose
// CR LF line ends are then turned back into LF).
RunResult run_tarvel(const std::string &dir, const std::vector<std::string> &args);

// The same with the child's file-size limit (RLIMIT_FSIZE) set to limit
// bytes, so that writes past it fail; a negative limit sets none.
RunResult run_tarvel_limited(const std::string &dir, const std::vector<std::string> &args,
                             long file_size_limit);

// The same run under another program, e.g. {"strace", "-o", "trace", ...}.
RunResult run_tarvel_under(const std::string &dir, const std::vector<std::string> &prefix,
                           const std::vector<std::string> &args);

// Holds started runs back until open() (or its end): a pipe whose write end
// only the test keeps.
struct Gate {
    Gate();
    ~Gate();
    Gate(const Gate &) = delete;
    Gate &operator=(const Gate &) = delete;
    void open();
    int fds[2];
};

struct StartOptions {
    long file_size_limit = -1;        // RLIMIT_FSIZE of the child; negative: none
    Gate *gate = nullptr;             // the child waits for it before it starts tarvel
    std::vector<std::string> prefix;  // a program to run tarvel under
    long cpu_seconds = -1;            // RLIMIT_CPU of the child: a run that takes longer is killed
};

// A tarvel run started in the background; its stdout and stderr are read
// at the end.
struct Started {
    int pid;
    int out_fd;
    int err_fd;
    bool crlf;  // the Windows build, whose console lines end in CR LF
};

Started start_tarvel(const std::string &dir, const std::vector<std::string> &args,
                     const StartOptions &how = {});

// True once the run has ended (it is still to be finished).
bool has_exited(const Started &run);

// Waits for the run to end and returns its exit code, stdout and stderr.
RunResult finish_tarvel(const Started &run);

// Calls fn in a child process whose files may not grow beyond limit bytes
// (writes past it fail), and returns what fn returned and printed.
struct LimitedCall {
    int32_t status;
    std::string out;
};
LimitedCall call_with_file_size_limit(long limit, const std::function<int32_t()> &fn);

// The same, killed by the system once it has used cpu_seconds of processor
// time: the bound on a run's work that a test can rely on on a busy machine.
RunResult run_tarvel_bounded(const std::string &dir, const std::vector<std::string> &args,
                             long cpu_seconds);

// Runs the tool in process (init_state first) in directory dir.
RunResult run_in_process(const std::string &dir, const std::vector<std::string> &args);
