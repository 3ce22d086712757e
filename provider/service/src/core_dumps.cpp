#include <service/core_dumps.h>

#include <sys/prctl.h>
#include <sys/resource.h>

bool ForbidCoreDumps() {
    // The hard limit too, so nothing the process loads can raise it again.
    const rlimit none{0, 0};
    const bool limited = ::setrlimit(RLIMIT_CORE, &none) == 0;
    // A piped core pattern ignores the size limit; a non-dumpable process gets no core at all.
    const bool undumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    return limited && undumpable;
}
