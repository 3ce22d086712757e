#pragma once
// How the process functions start a child: posix_spawn, which reports a
// program that cannot be executed as an error of the call (and reaps that
// child itself) rather than as a child exiting 127.
#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <vector>

struct stab_rec;

// The environment of a child: "name=value" for each variable of the table, or
// the caller's own environment when there is no table.
class EnvironmentBlock {
public:
    explicit EnvironmentBlock(stab_rec* table);
    char* const* get() const;

private:
    bool m_inherit;
    std::vector<std::string> m_variables;
    std::vector<char*> m_pointers;
};

// The set-up of one child. Whatever is asked for, the child gets only the
// standard streams of the parent's descriptors, SIGPIPE at its default and no
// blocked signals, whatever the parent's thread had.
class ChildLaunch {
public:
    ChildLaunch();
    ~ChildLaunch();
    ChildLaunch(const ChildLaunch&) = delete;
    ChildLaunch& operator=(const ChildLaunch&) = delete;

    void redirect(int fd, int target);
    void open_null(int target, int flags);
    void own_process_group();
    // The process id; 0 with *error set to the errno value when it cannot start.
    pid_t start(const char* const* argv, char* const* envp, int* error);

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
    short m_flags;
    int m_error;  // the first failure of the set-up, reported by start
};

// Waits for the child (retrying on signals); 0 with *exitCode set, or the errno value.
int reap_child(pid_t process, int* exitCode);

// The errno value's system text.
std::string error_text(int error);
