#include <adt/array.h>
#include <adt/log.h>
#include <adt/pool.h>
#include <adt/proc.h>
#include <adt/str.h>
#include <adt/testpoint.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include "proc_launch.h"

namespace {

constexpr size_t kReadPiece = 1024;

// One standard stream of a child and the names its pipe ends go by in the log.
struct StreamSpec {
    int target;
    bool childReads;
    const char* parentEnd;
    const char* childEnd;
};

constexpr StreamSpec kStreams[3] = {
    {STDIN_FILENO, true, "thepipe.in.wr", "thepipe.in.rd"},
    {STDOUT_FILENO, false, "thepipe.out.rd", "thepipe.out.wr"},
    {STDERR_FILENO, false, "thepipe.err.rd", "thepipe.err.wr"},
};

// Where making a pipe failed.
struct PipeFailure {
    const char* step = nullptr;
    const char* end = nullptr;
    int error = 0;
};

// Moves a descriptor above the standard streams, close-on-exec: a parent
// started with a standard stream closed would otherwise get a pipe end there,
// and the child's redirections would overwrite one another.
int above_standard(int& fd) {
    if (fd > STDERR_FILENO) return 0;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) return errno;
    ::close(fd);
    fd = moved;
    return 0;
}

// The two ends of one stream's pipe; whatever is still held is closed on scope exit.
class StreamPipe {
public:
    StreamPipe() = default;
    ~StreamPipe() {
        close_fd(m_parent);
        close_fd(m_child);
    }
    StreamPipe(const StreamPipe&) = delete;
    StreamPipe& operator=(const StreamPipe&) = delete;

    // Both ends close-on-exec: a child started meanwhile by another thread
    // must not inherit them, or this child would never see the end of its input.
    PipeFailure open(const StreamSpec& spec) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return {"proc_pipe_create", spec.parentEnd, errno};
        m_child = spec.childReads ? fds[0] : fds[1];
        m_parent = spec.childReads ? fds[1] : fds[0];
        if (const int e = above_standard(m_parent)) return {"proc_pipe_dup", spec.parentEnd, e};
        if (const int e = above_standard(m_child)) return {"proc_pipe_dup", spec.childEnd, e};
        return {};
    }
    int child() const { return m_child; }
    // 0, or the errno value of the close.
    int close_child() {
        const int rc = ::close(m_child);
        m_child = -1;
        return rc == 0 || errno == EINTR ? 0 : errno;
    }
    int release_parent() {
        const int fd = m_parent;
        m_parent = -1;
        return fd;
    }

private:
    static void close_fd(int fd) {
        if (fd >= 0) ::close(fd);
    }
    int m_parent = -1;
    int m_child = -1;
};

void log_step_failure(const char* step, const char* what, int error) {
    log_write(nullptr, LOG_LEVEL_ERROR, "%s %s failed: %s (%d)", step, what, error_text(error).c_str(), error);
}

pid_t pipe_failed(const char* step, const char* what, int error, int* systemError) {
    log_step_failure(step, what, error);
    if (systemError) *systemError = error;
    return 0;
}

// Splits output into lines as it arrives; each line keeps its line feed.
class LineCollector {
public:
    LineCollector() : m_lines(array_new(std::free)) {}
    ~LineCollector() { array_release(m_lines); }
    LineCollector(const LineCollector&) = delete;
    LineCollector& operator=(const LineCollector&) = delete;

    bool add(const char* data, size_t n) {
        for (const char* end; m_lines && n > 0 && (end = static_cast<const char*>(std::memchr(data, '\n', n)));) {
            const size_t length = static_cast<size_t>(end - data) + 1;
            m_pending.append(data, length);
            if (!push_pending()) return false;
            data += length;
            n -= length;
        }
        m_pending.append(data, n);
        return m_lines != nullptr;
    }
    // The lines with the last one that has no line feed; NULL when memory ran out.
    array_rec* finish() {
        if (!m_pending.empty() && !push_pending()) return nullptr;
        array_rec* lines = m_lines;
        m_lines = nullptr;
        return lines;
    }

private:
    bool push_pending() {
        char* line = m_lines ? string_ndup(m_pending.data(), m_pending.size()) : nullptr;
        m_pending.clear();
        if (line && array_push(m_lines, line) == 0) return true;
        std::free(line);
        array_release(m_lines);
        m_lines = nullptr;
        return false;
    }
    array_rec* m_lines;
    std::string m_pending;
};

// Reads the descriptor to its end in pieces; false when a read fails or memory runs out.
bool read_all(int fd, LineCollector& lines) {
    char piece[kReadPiece];
    for (;;) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || !lines.add(piece, static_cast<size_t>(n))) return false;
    }
}

bool has_blank(const char* text) { return std::strpbrk(text, " \t") != nullptr; }

enum class KillStep { Open, Terminate };

void log_kill_failure(KillStep step, pid_t process, int error) {
    const std::string text = error_text(error);
    if (step == KillStep::Open)
        log_write(nullptr, LOG_LEVEL_ERROR, "Not allowed to kill process %d, error=%s", static_cast<int>(process), text.c_str());
    else
        log_write(nullptr, LOG_LEVEL_ERROR, "Unable to kill process %d, error=%s", static_cast<int>(process), text.c_str());
    log_write(nullptr, LOG_LEVEL_ERROR, "Unable to kill process %ld", static_cast<long>(process));
}

}  // namespace

char* proc_build_command(const char* const* argv) {
    char* line = nullptr;
    size_t capacity = 0;
    bool ok = string_reserve(&line, &capacity, 0) != nullptr;
    for (size_t i = 0; ok && argv && argv[i]; ++i) {
        const char* separator = i == 0 ? "" : " ";
        ok = has_blank(argv[i]) ? string_appendf(&line, &capacity, "%s\"%s\"", separator, argv[i])
                                : string_appendf(&line, &capacity, "%s%s", separator, argv[i]);
    }
    if (!ok) {
        pool_free(nullptr, line, ADT_HERE);
        log_nomem("proc build command");
        return nullptr;
    }
    return line;
}

pid_t proc_pipe(const char* const* argv, stab_rec* environment, int* stdIn, int* stdOut, int* stdErr,
                int* systemError) {
    int* const wanted[3] = {stdIn, stdOut, stdErr};
    for (int* out : wanted)
        if (out) *out = -1;
    if (systemError) *systemError = 0;
    try {
        StreamPipe pipes[3];
        ChildLaunch launch;
        for (int i = 0; i < 3; ++i) {
            if (!wanted[i]) continue;
            if (const PipeFailure f = pipes[i].open(kStreams[i]); f.error != 0)
                return pipe_failed(f.step, f.end, f.error, systemError);
            launch.redirect(pipes[i].child(), kStreams[i].target);
        }
        const EnvironmentBlock block(environment);
        int error = 0;
        const pid_t pid = launch.start(argv, block.get(), &error);
        if (pid == 0) return pipe_failed("proc_pipe", "CreateProcess", error, systemError);
        // The child runs from here on: a failed close is logged, but the
        // caller still gets the process id, or nobody could reap the child.
        for (int i = 0; i < 3; ++i) {
            if (!wanted[i]) continue;
            if (const int e = pipes[i].close_child()) log_step_failure("proc_pipe_closehandle", kStreams[i].childEnd, e);
            *wanted[i] = pipes[i].release_parent();
        }
        return pid;
    } catch (const std::bad_alloc&) {
        return pipe_failed("proc_pipe", "CreateProcess", ENOMEM, systemError);
    }
}

array_rec* proc_mysystem(const char* command, int argc, const char* const* arguments, int* exitCode) {
    if (exitCode) *exitCode = -1;
    if (!command || argc < 0 || (argc > 0 && !arguments)) return nullptr;
    try {
        std::vector<const char*> argv{command};
        argv.insert(argv.end(), arguments, arguments + argc);
        argv.push_back(nullptr);
        int output = -1;
        const pid_t pid = proc_pipe(argv.data(), nullptr, nullptr, &output, nullptr, nullptr);
        if (pid == 0) return nullptr;
        LineCollector lines;
        const bool complete = read_all(output, lines);
        // Closed before the wait: a child still writing then ends on a broken
        // pipe instead of blocking forever.
        ::close(output);
        int code = -1;
        reap_child(pid, &code);
        if (exitCode) *exitCode = code;
        return complete ? lines.finish() : nullptr;
    } catch (const std::bad_alloc&) {
        log_nomem("proc mysystem");
        return nullptr;
    }
}

int proc_run(const char* const* argv) {
    ChildLaunch launch;
    int error = 0;
    const pid_t pid = launch.start(argv, nullptr, &error);
    int code = -1;
    if (pid == 0 || reap_child(pid, &code) != 0) return -1;
    return code;
}

pid_t proc_spawn(const char* const* argv) {
    ChildLaunch launch;
    // A debugging build can keep the child's output visible.
    if (!testpoint_value(0, "proc", "debug", ADT_HERE)) {
        launch.open_null(STDIN_FILENO, O_RDONLY);
        launch.open_null(STDOUT_FILENO, O_WRONLY);
        launch.open_null(STDERR_FILENO, O_WRONLY);
    }
    launch.own_process_group();
    int error = 0;
    return launch.start(argv, nullptr, &error);
}

int proc_wait(pid_t process, int* exitCode) { return reap_child(process, exitCode); }

int proc_kill(pid_t process) {
    // kill() takes 0 and negative ids as whole process groups, -1 as every
    // process the caller may signal.
    const int refused = process < 1 ? EINVAL : (::kill(process, 0) == 0 ? 0 : errno);
    if (refused != 0) {
        log_kill_failure(KillStep::Open, process, refused);
        return 0;
    }
    // A process that ended since the check is as good as killed.
    if (::kill(process, SIGKILL) != 0 && errno != ESRCH) {
        log_kill_failure(KillStep::Terminate, process, errno);
        return 0;
    }
    return 1;
}

ssize_t proc_write(int fd, const void* data, size_t size) {
    // SIGPIPE is blocked in this thread only, and one raised by this write is
    // taken off again, so the process's disposition never matters.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;

    const auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    int error = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n >= 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR) continue;
        error = errno;
        break;
    }
    if (error == EPIPE && !alreadyPending) {
        const timespec noWait{};
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (error == 0) return static_cast<ssize_t>(done);
    errno = error;
    return done > 0 ? static_cast<ssize_t>(done) : -1;
}
