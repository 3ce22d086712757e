#pragma once
// The runtime's process functions. An argument list is a NULL-terminated
// array whose first entry is the program (looked up in PATH when it holds no
// "/"). Every descriptor the parent opens here is close-on-exec, and a child
// gets its standard streams and nothing else of the parent. A program that
// cannot be executed is a failure of the call, never a child that exits 127.
//
// Exit codes: the child's exit status, or 128 + the signal number for a child
// that a signal ended (a killed child gives 137).
#include <cstddef>
#include <sys/types.h>

struct array_rec;
struct stab_rec;

// The command line: the arguments separated by one blank, each enclosed in
// double quotes when it contains a blank. A new text the caller frees; NULL
// when memory runs out.
char* proc_build_command(const char* const* argv);

// Starts the command with a pipe for each stream whose pointer is given (the
// parent's end, close-on-exec, is stored there); the other streams are the
// caller's own. The environment holds exactly the table's variables (NULL:
// the caller's environment). Returns the process id, which the caller reaps
// with proc_wait; 0 on failure, with the errno value in *systemError (when
// given) and the failed step logged.
pid_t proc_pipe(const char* const* argv, stab_rec* environment, int* stdIn, int* stdOut, int* stdErr,
                int* systemError);

// Runs command with the given arguments (after the program itself) and its
// standard output on a pipe, reading until the end. The lines, each with its
// line feed (the last one as it came), as an array of texts that the array
// frees; an empty array for no output. NULL when the command cannot be run,
// with *exitCode -1; otherwise *exitCode is the child's exit code.
array_rec* proc_mysystem(const char* command, int argc, const char* const* arguments, int* exitCode);

// Starts the command with the caller's standard streams, waits for it and
// returns its exit code; -1 when it cannot be started.
int proc_run(const char* const* argv);

// Starts the command detached: its own process group, standard streams on
// /dev/null. The process id, which the caller reaps with proc_wait; 0 when it
// cannot be started.
pid_t proc_spawn(const char* const* argv);

// Waits for the child to end and reaps it; 0 with *exitCode set, or the errno value.
int proc_wait(pid_t process, int* exitCode);

// Ends the process as a kill does (SIGKILL). 1 on success; 0, with the reason
// logged, when it is not allowed or fails. Ids below 1 (a process group, or
// every process) are refused.
int proc_kill(pid_t process);

// Writes to a child's standard input. A child that has gone away gives -1
// with errno EPIPE; it never raises SIGPIPE in the caller, and the process's
// disposition of SIGPIPE is left as it is. The bytes written, or -1.
ssize_t proc_write(int fd, const void* data, size_t size);
