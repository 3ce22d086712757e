/* Preloaded into every end-to-end test process and what it starts: an open
 * for writing of a file under the real /sys is refused (EACCES) and written
 * to sysfs-guard.log beside this library (or to SANPROV_SYSFS_GUARD_LOG when
 * set), which the last end-to-end test requires to be empty. Reads go
 * through: looking at the machine's sysfs harms nothing. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int under_sys(const char *resolved) {
    return strcmp(resolved, "/sys") == 0 || strncmp(resolved, "/sys/", 5) == 0;
}

#define RESOLVED_MAX (PATH_MAX * 2)

/* The absolute, symlink-free form of a path opened relative to dirfd; when the
 * file does not exist yet, of its directory followed by its name. Texts too
 * long for a path give 0 (the kernel refuses such an open anyway). */
static int resolve(int dirfd, const char *path, char *out) {
    char joined[RESOLVED_MAX];
    if (strlen(path) >= PATH_MAX) return 0;
    if (path[0] == '/') {
        snprintf(joined, sizeof joined, "%s", path);
    } else {
        char base[PATH_MAX];
        if (dirfd == AT_FDCWD) {
            if (!getcwd(base, sizeof base)) return 0;
        } else {
            char link[64];
            snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
            const ssize_t n = readlink(link, base, sizeof base - 1);
            if (n < 0) return 0;
            base[n] = 0;
        }
        snprintf(joined, sizeof joined, "%s/%s", base, path);
    }
    if (strlen(joined) < PATH_MAX && realpath(joined, out)) return 1;
    char *slash = strrchr(joined, '/');
    if (!slash) return 0;
    *slash = 0;
    char directory[PATH_MAX];
    const char *base = strlen(joined) < PATH_MAX && realpath(joined[0] ? joined : "/", directory)
                           ? (strcmp(directory, "/") == 0 ? "" : directory)
                           : joined;
    const int length = snprintf(out, RESOLVED_MAX, "%s/%s", base, slash + 1);
    return length > 0 && length < RESOLVED_MAX;
}

static void report(const char *resolved) {
    char exe[PATH_MAX] = "?";
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n >= 0) exe[n] = 0;
    fprintf(stderr, "sysfs guard: %s (pid %d) opened %s for writing: refused\n", exe, (int)getpid(), resolved);
    char log[PATH_MAX];
    const char *named = getenv("SANPROV_SYSFS_GUARD_LOG");
    Dl_info self;
    if (named && *named) {
        snprintf(log, sizeof log, "%s", named);
    } else if (dladdr((void *)report, &self) && self.dli_fname && strrchr(self.dli_fname, '/')) {
        snprintf(log, sizeof log, "%.*s/sysfs-guard.log", (int)(strrchr(self.dli_fname, '/') - self.dli_fname),
                 self.dli_fname);
    } else {
        return;
    }
    static int (*real_open)(const char *, int, ...);
    if (!real_open) real_open = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
    const int fd = real_open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    char line[PATH_MAX + RESOLVED_MAX + 64];
    const int length = snprintf(line, sizeof line, "%s (pid %d) %s\n", exe, (int)getpid(), resolved);
    if (length > 0 && write(fd, line, (size_t)length) < 0) { /* the refusal stands either way */ }
    close(fd);
}

/* True when the open must be refused. */
static int refused(int dirfd, const char *path, int writing) {
    if (!writing || !path) return 0;
    char resolved[RESOLVED_MAX];
    if (!resolve(dirfd, path, resolved) || !under_sys(resolved)) return 0;
    report(resolved);
    errno = EACCES;
    return 1;
}

static int flags_write(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0; }
static int mode_write(const char *mode) { return mode && strpbrk(mode, "wa+") != NULL; }

#define MODE_ARG(flags, mode)                                           \
    mode_t mode = 0;                                                    \
    if ((flags) & (O_CREAT | __O_TMPFILE)) {                            \
        va_list args;                                                   \
        va_start(args, flags);                                          \
        mode = va_arg(args, mode_t);                                    \
        va_end(args);                                                   \
    }

#define OPEN_LIKE(name)                                                                  \
    int name(const char *path, int flags, ...) {                                         \
        MODE_ARG(flags, mode)                                                            \
        if (refused(AT_FDCWD, path, flags_write(flags))) return -1;                      \
        static int (*real)(const char *, int, ...);                                      \
        if (!real) real = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, #name);      \
        return real(path, flags, mode);                                                  \
    }
OPEN_LIKE(open)
OPEN_LIKE(open64)

#define OPENAT_LIKE(name)                                                                \
    int name(int dirfd, const char *path, int flags, ...) {                              \
        MODE_ARG(flags, mode)                                                            \
        if (refused(dirfd, path, flags_write(flags))) return -1;                         \
        static int (*real)(int, const char *, int, ...);                                 \
        if (!real) real = (int (*)(int, const char *, int, ...))dlsym(RTLD_NEXT, #name); \
        return real(dirfd, path, flags, mode);                                           \
    }
OPENAT_LIKE(openat)
OPENAT_LIKE(openat64)

#define CREAT_LIKE(name)                                                                 \
    int name(const char *path, mode_t mode) {                                            \
        if (refused(AT_FDCWD, path, 1)) return -1;                                       \
        static int (*real)(const char *, mode_t);                                        \
        if (!real) real = (int (*)(const char *, mode_t))dlsym(RTLD_NEXT, #name);        \
        return real(path, mode);                                                         \
    }
CREAT_LIKE(creat)
CREAT_LIKE(creat64)

#define FOPEN_LIKE(name)                                                                 \
    FILE *name(const char *path, const char *mode) {                                     \
        if (refused(AT_FDCWD, path, mode_write(mode))) return NULL;                      \
        static FILE *(*real)(const char *, const char *);                                \
        if (!real) real = (FILE * (*)(const char *, const char *)) dlsym(RTLD_NEXT, #name); \
        return real(path, mode);                                                         \
    }
FOPEN_LIKE(fopen)
FOPEN_LIKE(fopen64)

#define FREOPEN_LIKE(name)                                                                       \
    FILE *name(const char *path, const char *mode, FILE *stream) {                               \
        if (refused(AT_FDCWD, path, mode_write(mode))) return NULL;                              \
        static FILE *(*real)(const char *, const char *, FILE *);                                \
        if (!real) real = (FILE * (*)(const char *, const char *, FILE *)) dlsym(RTLD_NEXT, #name); \
        return real(path, mode, stream);                                                         \
    }
FREOPEN_LIKE(freopen)
FREOPEN_LIKE(freopen64)
