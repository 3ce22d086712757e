#include <adt/array.h>
#include <adt/proc.h>
#include <adt/stab.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "log_root.h"

namespace {

using Lines = std::vector<std::string>;

struct ArrayDeleter {
    void operator()(array_rec* a) const { array_release(a); }
};
using ArrayPtr = std::unique_ptr<array_rec, ArrayDeleter>;

struct StabDeleter {
    void operator()(stab_rec* t) const { stab_free(t); }
};
using StabPtr = std::unique_ptr<stab_rec, StabDeleter>;

Lines lines_of(array_rec* array) {
    Lines lines;
    int cursor = 0;
    for (void* item = array_first(array, &cursor); item != array_end(array); item = array_next(array, &cursor))
        lines.emplace_back(static_cast<const char*>(item));
    return lines;
}

// proc_mysystem over "/bin/sh -c <script> sh <extra...>".
ArrayPtr shell_lines(const std::string& script, int* exitCode, std::vector<const char*> extra = {}) {
    std::vector<const char*> args{"-c", script.c_str(), "sh"};
    args.insert(args.end(), extra.begin(), extra.end());
    return ArrayPtr(proc_mysystem("/bin/sh", static_cast<int>(args.size()), args.data(), exitCode));
}

std::string read_to_end(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

std::string default_log() { return read_file(test_log_dir() + "application.log"); }

// Every child this process started has been reaped.
void expect_no_children() {
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// A scratch file for what a child with no pipe writes.
class ScratchFile {
public:
    ScratchFile() : m_path(test_log_dir() + "proc-" + std::to_string(::getpid()) + "-" + std::to_string(s_next++)) {}
    ~ScratchFile() { std::filesystem::remove(m_path); }
    const char* path() const { return m_path.c_str(); }
    std::string text() const { return read_file(m_path); }

private:
    static inline int s_next = 0;
    std::string m_path;
};

}  // namespace

TEST(ProcCommand, QuotesOnlyArgumentsWithBlanks) {
    const struct {
        std::vector<const char*> argv;
        const char* line;
    } cases[] = {
        {{"prog", nullptr}, "prog"},
        {{"/bin/sh", "-c", "echo hi", nullptr}, "/bin/sh -c \"echo hi\""},
        {{"C:/Program Files/x.exe", "a\tb", "plain", nullptr}, "\"C:/Program Files/x.exe\" \"a\tb\" plain"},
        {{nullptr}, ""},
    };
    for (const auto& c : cases) {
        char* line = proc_build_command(c.argv.data());
        ASSERT_NE(line, nullptr);
        EXPECT_STREQ(line, c.line);
        std::free(line);
    }
}

TEST(ProcMysystem, ReturnsEveryLineWithItsLineFeedAndTheExitCode) {
    const struct {
        const char* script;
        Lines lines;
        int exitCode;
    } cases[] = {
        {"printf 'one\\ntwo\\n'", {"one\n", "two\n"}, 0},
        {"printf 'one\\ntwo'", {"one\n", "two"}, 0},
        {"printf '\\n\\nlast'", {"\n", "\n", "last"}, 0},
        {"true", {}, 0},
        {"echo partial; exit 3", {"partial\n"}, 3},
        {"echo before; kill -TERM $$", {"before\n"}, 128 + SIGTERM},
        // Arguments reach the child as they are: no quoting on the way.
        {"printf '[%s]\\n' \"$0\"", {"[sh]\n"}, 0},
    };
    for (const auto& c : cases) {
        int code = -2;
        ArrayPtr lines = shell_lines(c.script, &code);
        ASSERT_NE(lines, nullptr) << c.script;
        EXPECT_EQ(lines_of(lines.get()), c.lines) << c.script;
        EXPECT_EQ(code, c.exitCode) << c.script;
    }
    int code = -2;
    ArrayPtr blanks = shell_lines("printf '[%s]\\n' \"$@\"", &code, {"a b", "c\td", ""});
    ASSERT_NE(blanks, nullptr);
    EXPECT_EQ(lines_of(blanks.get()), (Lines{"[a b]\n", "[c\td]\n", "[]\n"}));
    expect_no_children();
}

TEST(ProcMysystem, ReadsOutputFarLargerThanAPipeHolds) {
    // About 300 KB, several times a pipe's buffer, with lines across every
    // piece boundary: the child blocks until the parent reads.
    constexpr int kLines = 5000;
    const std::string script = "i=0; while [ $i -lt " + std::to_string(kLines) +
                               " ]; do echo \"line $i of the output, long enough to cross pieces\"; i=$((i+1)); done";
    int code = -2;
    ArrayPtr lines = shell_lines(script, &code);
    ASSERT_NE(lines, nullptr);
    const Lines got = lines_of(lines.get());
    ASSERT_EQ(got.size(), static_cast<size_t>(kLines));
    for (int i : {0, 17, 1234, kLines - 1})
        EXPECT_EQ(got[static_cast<size_t>(i)], "line " + std::to_string(i) + " of the output, long enough to cross pieces\n");
    EXPECT_EQ(code, 0);
    expect_no_children();
}

TEST(ProcRun, ReturnsTheExitCodeOfTheCommand) {
    const struct {
        const char* script;
        int exitCode;
    } cases[] = {{"exit 0", 0}, {"exit 3", 3}, {"kill -KILL $$", 128 + SIGKILL}};
    for (const auto& c : cases) {
        const char* argv[] = {"/bin/sh", "-c", c.script, nullptr};
        EXPECT_EQ(proc_run(argv), c.exitCode) << c.script;
    }
    expect_no_children();
}

TEST(ProcStart, ACommandThatCannotBeExecutedIsAFailureOfTheCall) {
    const struct {
        const char* program;
        int error;
    } cases[] = {{"/no/such/program", ENOENT}, {"no-such-program-on-the-path", ENOENT}, {"/etc/passwd", EACCES}};
    for (const auto& c : cases) {
        const char* argv[] = {c.program, "arg", nullptr};
        int code = 0;
        EXPECT_EQ(proc_mysystem(c.program, 1, argv + 1, &code), nullptr) << c.program;
        EXPECT_EQ(code, -1) << c.program;
        EXPECT_EQ(proc_run(argv), -1) << c.program;
        EXPECT_EQ(proc_spawn(argv), 0) << c.program;

        int in = 0, out = 0, err = 0, error = 0;
        EXPECT_EQ(proc_pipe(argv, nullptr, &in, &out, &err, &error), 0) << c.program;
        EXPECT_EQ(error, c.error) << c.program;
        EXPECT_EQ(in, -1);
        EXPECT_EQ(out, -1);
        EXPECT_EQ(err, -1);
        const std::string line = "[application:ERROR]: proc_pipe CreateProcess failed: " +
                                 std::string(std::strerror(c.error)) + " (" + std::to_string(c.error) + ")\n";
        EXPECT_NE(default_log().find(line), std::string::npos) << line;
    }
    expect_no_children();
}

TEST(ProcPipe, ConnectsTheStreamsAskedForAndPassesTheEnvironmentTable) {
    const char* argv[] = {"/bin/sh", "-c",
                          "read x; printf 'out:%s|%s|%s' \"$x\" \"$GREETING\" \"${HOME-unset}\"; printf 'err:%s' \"$x\" >&2; exit 5",
                          nullptr};
    StabPtr environment(stab_new("GREETING", "hello there", "PATH", "/bin:/usr/bin", nullptr));
    int in = -1, out = -1, err = -1, error = -1;
    const pid_t pid = proc_pipe(argv, environment.get(), &in, &out, &err, &error);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(error, 0);
    for (int fd : {in, out, err}) EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    ASSERT_EQ(proc_write(in, "typed\n", 6), 6);
    ::close(in);
    EXPECT_EQ(read_to_end(out), "out:typed|hello there|unset");
    EXPECT_EQ(read_to_end(err), "err:typed");
    int code = -1;
    EXPECT_EQ(proc_wait(pid, &code), 0);
    EXPECT_EQ(code, 5);

    // No table: the caller's own environment.
    ::setenv("PROC_TEST_INHERITED", "from the parent", 1);
    const char* inherited[] = {"/bin/sh", "-c", "printf '%s' \"$PROC_TEST_INHERITED\"", nullptr};
    const pid_t second = proc_pipe(inherited, nullptr, nullptr, &out, nullptr, nullptr);
    ASSERT_GT(second, 0);
    EXPECT_EQ(read_to_end(out), "from the parent");
    EXPECT_EQ(proc_wait(second, &code), 0);
    ::unsetenv("PROC_TEST_INHERITED");
    expect_no_children();
}

TEST(ProcStart, NoDescriptorOfTheParentReachesTheChild) {
    // Descriptors opened without close-on-exec, as other code of the process may.
    const int stray = ::open("/dev/null", O_RDONLY);
    int strayPipe[2];
    ASSERT_EQ(::pipe(strayPipe), 0);
    // The shell's own descriptors, listed by a command of its own. The shell
    // must not exec the last command in its place (ls would list its own
    // directory descriptor) nor save a redirected stream (exec > keeps none).
    const char* lister = "ls /proc/$$/fd; exit 0";
    const char* listerToFile = "exec > \"$0\"; ls /proc/$$/fd; exit 0";
    const std::string standardOnly = "0\n1\n2\n";

    ScratchFile runFile, spawnFile;
    const struct {
        const char* name;
        std::function<std::string()> listing;
    } starts[] = {
        {"proc_mysystem",
         [&] {
             int code = -1;
             ArrayPtr lines = shell_lines(lister, &code);
             std::string text;
             for (const auto& line : lines ? lines_of(lines.get()) : Lines{}) text += line;
             return text;
         }},
        {"proc_pipe",
         [&] {
             const char* argv[] = {"/bin/sh", "-c", lister, nullptr};
             int in = -1, out = -1, err = -1;
             const pid_t pid = proc_pipe(argv, nullptr, &in, &out, &err, nullptr);
             if (pid == 0) return std::string();
             ::close(in);
             const std::string text = read_to_end(out);
             ::close(err);
             proc_wait(pid, nullptr);
             return text;
         }},
        {"proc_run",
         [&] {
             const char* argv[] = {"/bin/sh", "-c", listerToFile, runFile.path(), nullptr};
             proc_run(argv);
             return runFile.text();
         }},
        {"proc_spawn",
         [&] {
             const char* argv[] = {"/bin/sh", "-c", listerToFile, spawnFile.path(), nullptr};
             const pid_t pid = proc_spawn(argv);
             if (pid != 0) proc_wait(pid, nullptr);
             return spawnFile.text();
         }},
    };
    for (const auto& s : starts) EXPECT_EQ(s.listing(), standardOnly) << s.name;

    ::close(stray);
    ::close(strayPipe[0]);
    ::close(strayPipe[1]);
    expect_no_children();
}

TEST(ProcSpawn, RunsDetachedInItsOwnProcessGroupUntilKilled) {
    const char* argv[] = {"sleep", "60", nullptr};
    const pid_t pid = proc_spawn(argv);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::getpgid(pid), pid);
    EXPECT_NE(::getpgid(pid), ::getpgrp());
    for (int fd : {0, 1, 2})
        EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd)),
                  "/dev/null");

    EXPECT_EQ(proc_kill(pid), 1);
    int code = -1;
    EXPECT_EQ(proc_wait(pid, &code), 0);
    EXPECT_EQ(code, 128 + SIGKILL);
    EXPECT_EQ(proc_wait(pid, &code), ECHILD);
    expect_no_children();
}

TEST(ProcKill, RefusesAProcessThatDoesNotExistAndWholeProcessGroups) {
    // The id of a child already reaped names no process.
    const char* argv[] = {"true", nullptr};
    const pid_t gone = proc_spawn(argv);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(proc_wait(gone, nullptr), 0);
    EXPECT_EQ(proc_kill(gone), 0);
    const std::string id = std::to_string(gone);
    const std::string log = default_log();
    EXPECT_NE(log.find("[application:ERROR]: Not allowed to kill process " + id + ", error=No such process\n"),
              std::string::npos);
    EXPECT_NE(log.find("[application:ERROR]: Unable to kill process " + id + "\n"), std::string::npos);

    // Id 0 would be the caller's own process group: tried in a child that is
    // alone in its group, so a wrong answer kills nothing else.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setsid();
        ::_exit(proc_kill(0) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(default_log().find("Not allowed to kill process 0, error=Invalid argument\n"), std::string::npos);
}

TEST(ProcWrite, AChildThatStoppedReadingNeverRaisesSigpipe) {
    ASSERT_EQ(std::signal(SIGPIPE, SIG_DFL), SIG_DFL);
    const char* argv[] = {"/bin/sh", "-c", "exit 0", nullptr};
    int in = -1;
    const pid_t pid = proc_pipe(argv, nullptr, &in, nullptr, nullptr, nullptr);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(proc_wait(pid, nullptr), 0);

    errno = 0;
    EXPECT_EQ(proc_write(in, "lost", 4), -1);
    EXPECT_EQ(errno, EPIPE);
    ::close(in);
    // The disposition is untouched and nothing is left pending.
    EXPECT_EQ(std::signal(SIGPIPE, SIG_DFL), SIG_DFL);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}
