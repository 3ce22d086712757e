#include "proc_launch.h"

#include <adt/hash.h>
#include <adt/stab.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int kFirstNonStandardFd = 3;
// A shell reports a child that a signal ended the same way.
constexpr int kSignalExitBase = 128;

int exit_code_of(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return kSignalExitBase + WTERMSIG(status);
    return -1;
}

}  // namespace

EnvironmentBlock::EnvironmentBlock(stab_rec* table) : m_inherit(table == nullptr) {
    if (m_inherit) return;
    hash_cursor cursor{};
    for (const char* name = stab_first(table, &cursor); name; name = stab_next(table, &cursor))
        m_variables.push_back(std::string(name) + "=" + stab_get(table, name));
    for (auto& variable : m_variables) m_pointers.push_back(variable.data());
    m_pointers.push_back(nullptr);
}

char* const* EnvironmentBlock::get() const { return m_inherit ? environ : m_pointers.data(); }

ChildLaunch::ChildLaunch() : m_flags(POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK), m_error(0) {
    m_error = posix_spawn_file_actions_init(&m_actions);
    if (const int e = posix_spawnattr_init(&m_attributes); e != 0 && m_error == 0) m_error = e;
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&m_attributes, &defaults);
    posix_spawnattr_setsigmask(&m_attributes, &none);
}

ChildLaunch::~ChildLaunch() {
    posix_spawnattr_destroy(&m_attributes);
    posix_spawn_file_actions_destroy(&m_actions);
}

void ChildLaunch::redirect(int fd, int target) {
    if (const int e = posix_spawn_file_actions_adddup2(&m_actions, fd, target); e != 0 && m_error == 0) m_error = e;
}

void ChildLaunch::open_null(int target, int flags) {
    if (const int e = posix_spawn_file_actions_addopen(&m_actions, target, "/dev/null", flags, 0);
        e != 0 && m_error == 0)
        m_error = e;
}

void ChildLaunch::own_process_group() {
    m_flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&m_attributes, 0);
}

pid_t ChildLaunch::start(const char* const* argv, char* const* envp, int* error) {
    // Closing everything above the standard streams in the child also keeps
    // out descriptors that other code of the process opened without
    // close-on-exec.
    int e = m_error;
    if (e == 0 && (!argv || !argv[0])) e = EINVAL;
    if (e == 0) e = posix_spawn_file_actions_addclosefrom_np(&m_actions, kFirstNonStandardFd);
    if (e == 0) e = posix_spawnattr_setflags(&m_attributes, m_flags);
    pid_t pid = 0;
    if (e == 0)
        e = posix_spawnp(&pid, argv[0], &m_actions, &m_attributes, const_cast<char* const*>(argv), envp);
    *error = e;
    return e == 0 ? pid : 0;
}

int reap_child(pid_t process, int* exitCode) {
    int status = 0;
    pid_t done;
    do done = ::waitpid(process, &status, 0);
    while (done < 0 && errno == EINTR);
    if (done < 0) return errno;
    if (exitCode) *exitCode = exit_code_of(status);
    return 0;
}

std::string error_text(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}
