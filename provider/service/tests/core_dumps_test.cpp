// A crash of a process that forbade core dumps leaves no core file behind.
#include <service/core_dumps.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Crashes a child in `dir` with its core limit raised as far as it goes;
// true when the system says it dumped core.
bool crash_dumps_core(const fs::path& dir, bool forbid) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(2);
        rlimit limit{};
        ::getrlimit(RLIMIT_CORE, &limit);
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_CORE, &limit);
        if (forbid && (!ForbidCoreDumps() || ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0)) ::_exit(3);
        ::raise(SIGQUIT);  // its default action dumps core; no sanitizer handles it
        ::_exit(4);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGQUIT) << "status " << status;
    return WIFSIGNALED(status) && WCOREDUMP(status);
}

}  // namespace

TEST(CoreDumps, AProcessThatForbidsThemLeavesNoneWhenItCrashes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitized process's core would be its whole shadow memory";
#endif
    char pattern[] = "/tmp/core-dumps-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    const bool systemDumps = crash_dumps_core(dir, false);
    const bool dumped = crash_dumps_core(dir, true);
    fs::remove_all(dir);
    if (!systemDumps) GTEST_SKIP() << "this system writes no core files for test processes";
    EXPECT_FALSE(dumped);
}
