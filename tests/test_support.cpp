// Helpers shared by the tests.
#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "driver/commands.h"
#include "state.h"

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvel-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void write_file(const std::string &path, const Bytes &content)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(content.data(), std::streamsize(content.size()));
    if (!f)
        throw std::runtime_error("cannot write " + path);
}

Bytes read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return "<missing>";
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

Files files_in(const std::string &dir)
{
    // A FIFO or device is named, not read: reading one would wait.
    Files files;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        files[entry.path().filename().string()] =
            entry.is_regular_file() ? read_file(entry.path().string()) : "<no regular file>";
    return files;
}

void lay_out(const TempDir &dir, const Files &files)
{
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        std::filesystem::remove_all(entry.path());
    for (const auto &[name, content] : files)
        write_file(dir.file(name), content);
}

bool have_tool(const char *tool)
{
    std::string probe("command -v ");
    probe += tool;
    probe += " > /dev/null 2>&1";
    return std::system(probe.c_str()) == 0;
}

int shell(const std::string &dir, const std::string &command)
{
    std::string line("cd '");
    line += dir + "' && " + command;
    int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> lines_of(const Bytes &text)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

std::string hex_text(const Bytes &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : bytes) {
        s.push_back(digits[c >> 4]);
        s.push_back(digits[c & 0xF]);
    }
    return s;
}

bool file_exists(const std::string &path) { return std::filesystem::exists(path); }

Bytes hex_bytes(const std::string &hex)
{
    Bytes out;
    std::istringstream in(hex);
    std::string byte;
    while (in >> byte)
        out.push_back(char(std::stoul(byte, nullptr, 16)));
    return out;
}

StdoutCapture::StdoutCapture() : active_(true)
{
    std::fflush(stdout);
    char name[] = "/tmp/tarvel-stdout-XXXXXX";
    int fd = mkstemp(name);
    path_ = name;
    saved_fd_ = dup(1);
    dup2(fd, 1);
    close(fd);
}

std::string StdoutCapture::stop()
{
    if (!active_)
        return "";
    std::fflush(stdout);
    dup2(saved_fd_, 1);
    close(saved_fd_);
    active_ = false;
    std::string out = read_file(path_);
    std::remove(path_.c_str());
    return out;
}

StdoutCapture::~StdoutCapture() { stop(); }

RunResult run_tarvel(const std::string &dir, const std::vector<std::string> &args)
{
    return finish_tarvel(start_tarvel(dir, args));
}

RunResult run_tarvel_limited(const std::string &dir, const std::vector<std::string> &args,
                             long file_size_limit)
{
    StartOptions how;
    how.file_size_limit = file_size_limit;
    return finish_tarvel(start_tarvel(dir, args, how));
}

RunResult run_tarvel_bounded(const std::string &dir, const std::vector<std::string> &args,
                             long cpu_seconds)
{
    StartOptions how;
    how.cpu_seconds = cpu_seconds;
    return finish_tarvel(start_tarvel(dir, args, how));
}

RunResult run_tarvel_under(const std::string &dir, const std::vector<std::string> &prefix,
                           const std::vector<std::string> &args)
{
    StartOptions how;
    how.prefix = prefix;
    return finish_tarvel(start_tarvel(dir, args, how));
}

Gate::Gate()
{
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
}

Gate::~Gate()
{
    open();
    if (fds[0] >= 0)
        close(fds[0]);
}

void Gate::open()
{
    if (fds[1] >= 0)
        close(fds[1]);
    fds[1] = -1;
}

Started start_tarvel(const std::string &dir, const std::vector<std::string> &args,
                     const StartOptions &how)
{
    // TARVEL_RUNNER=wine TARVEL_EXE=.../tarvel.exe runs the same tests against
    // the Windows build.
    const char *exe = std::getenv("TARVEL_EXE");
    if (!exe || !*exe)
        exe = TARVEL_EXE;
    const char *runner = std::getenv("TARVEL_RUNNER");
    if (runner && !*runner)
        runner = nullptr;

    // stdout and stderr go through pipes, which no file-size limit applies to.
    int fds[2], err_fds[2];
    if (pipe(fds) != 0 || pipe(err_fds) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        close(err_fds[0]);
        dup2(fds[1], 1);
        dup2(err_fds[1], 2);
        close(fds[1]);
        close(err_fds[1]);
        if (how.gate) {
            // Every child holds a copy of the gate's write end: drop it, or
            // the gate never opens. Then wait until the parent drops its own.
            close(how.gate->fds[1]);
            char c;
            while (read(how.gate->fds[0], &c, 1) > 0) {
            }
            close(how.gate->fds[0]);
        }
        if (how.file_size_limit >= 0) {
            // Writes past the limit then fail with EFBIG instead of a signal.
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit lim = {rlim_t(how.file_size_limit), rlim_t(how.file_size_limit)};
            setrlimit(RLIMIT_FSIZE, &lim);
        }
        if (how.cpu_seconds >= 0) {
            struct rlimit lim = {rlim_t(how.cpu_seconds), rlim_t(how.cpu_seconds)};
            setrlimit(RLIMIT_CPU, &lim);
        }
        // LeakSanitizer cannot run under a tracer such as strace.
        if (!how.prefix.empty())
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        std::vector<char *> argv;
        for (const auto &p : how.prefix)
            argv.push_back(const_cast<char *>(p.c_str()));
        if (runner)
            argv.push_back(const_cast<char *>(runner));
        argv.push_back(const_cast<char *>(exe));
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    close(err_fds[1]);
    return {pid, fds[0], err_fds[0], runner != nullptr};
}

bool has_exited(const Started &run)
{
    // WNOWAIT leaves the child to be reaped by finish_tarvel.
    siginfo_t info{};
    return waitid(P_PID, id_t(run.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == run.pid;
}

RunResult finish_tarvel(const Started &run)
{
    // Both pipes at once: a child that fills one must not wait for the other.
    std::string text[2];
    pollfd fds[2] = {{run.out_fd, POLLIN, 0}, {run.err_fd, POLLIN, 0}};
    int open_pipes = 2;
    while (open_pipes > 0 && poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                text[i].append(buf, size_t(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_pipes--;
            }
        }
    }
    int status = 0;
    struct rusage usage = {};
    wait4(run.pid, &status, 0, &usage);
    RunResult r{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text[0], text[1],
                usage.ru_maxrss};
    // The Windows console ends its lines with CR LF; the expected texts use LF.
    if (run.crlf) {
        std::string lf;
        for (size_t i = 0; i < r.out.size(); i++)
            if (!(r.out[i] == '\r' && i + 1 < r.out.size() && r.out[i + 1] == '\n'))
                lf += r.out[i];
        r.out = lf;
    }
    return r;
}

LimitedCall call_with_file_size_limit(long limit, const std::function<int32_t()> &fn)
{
    int out_fds[2], status_fds[2];
    if (pipe(out_fds) != 0 || pipe(status_fds) != 0)
        throw std::runtime_error("pipe failed");
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(out_fds[0]);
        close(status_fds[0]);
        dup2(out_fds[1], 1);  // a pipe: the limit does not apply to it
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {rlim_t(limit), rlim_t(limit)};
        setrlimit(RLIMIT_FSIZE, &lim);
        int32_t status = fn();
        std::fflush(stdout);
        if (write(status_fds[1], &status, sizeof status) != sizeof status)
            _exit(1);
        _exit(0);
    }
    close(out_fds[1]);
    close(status_fds[1]);
    LimitedCall result{-1, ""};
    char buf[4096];
    ssize_t n;
    while ((n = read(out_fds[0], buf, sizeof buf)) > 0)
        result.out.append(buf, size_t(n));
    if (read(status_fds[0], &result.status, sizeof result.status) != sizeof result.status)
        result.status = -1;
    close(out_fds[0]);
    close(status_fds[0]);
    waitpid(pid, nullptr, 0);
    return result;
}

RunResult run_in_process(const std::string &dir, const std::vector<std::string> &args)
{
    char old[4096];
    if (!getcwd(old, sizeof old) || chdir(dir.c_str()) != 0)
        throw std::runtime_error("chdir failed");
    init_state();
    std::vector<const char *> argv{"tarvel"};
    for (const auto &a : args)
        argv.push_back(a.c_str());
    StdoutCapture capture;
    int code = run_tool(int(argv.size()), argv.data());
    std::string out = capture.stop();
    init_state();
    if (chdir(old) != 0)
        throw std::runtime_error("chdir back failed");
    return {code, out};
}
