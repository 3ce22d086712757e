#include <platform/probe.h>

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kChunk = 4096;

// Copies through the kernel, so a bad address fails with EFAULT instead of a signal.
bool copy_in(const void* from, void* to, size_t n) {
    iovec local{to, n};
    iovec remote{const_cast<void*>(from), n};
    return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(n);
}

bool copy_out(const void* from, void* to, size_t n) {
    iovec local{const_cast<void*>(from), n};
    iovec remote{to, n};
    return ::process_vm_writev(::getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(n);
}

bool overflows(const void* p, UINT_PTR bytes) { return reinterpret_cast<uintptr_t>(p) + bytes < bytes; }

}  // namespace

BOOL IsBadReadPtr(const void* p, UINT_PTR bytes) {
    if (bytes == 0) return FALSE;
    if (!p || overflows(p, bytes)) return TRUE;
    unsigned char buf[kChunk];
    const auto* at = static_cast<const unsigned char*>(p);
    for (UINT_PTR done = 0; done < bytes; done += kChunk) {
        if (!copy_in(at + done, buf, std::min<UINT_PTR>(kChunk, bytes - done))) return TRUE;
    }
    return FALSE;
}

BOOL IsBadWritePtr(LPVOID p, UINT_PTR bytes) {
    if (bytes == 0) return FALSE;
    if (!p || overflows(p, bytes)) return TRUE;
    unsigned char buf[kChunk];
    auto* at = static_cast<unsigned char*>(p);
    for (UINT_PTR done = 0; done < bytes; done += kChunk) {
        const size_t n = std::min<UINT_PTR>(kChunk, bytes - done);
        if (!copy_in(at + done, buf, n) || !copy_out(buf, at + done, n)) return TRUE;
    }
    return FALSE;
}

BOOL IsBadStringPtrW(LPCWSTR p, UINT_PTR maxUnits) {
    if (maxUnits == 0) return FALSE;
    if (!p) return TRUE;
    WCHAR buf[kChunk / sizeof(WCHAR)];
    for (UINT_PTR done = 0; done < maxUnits;) {
        // Read up to the end of the page only, so a string that ends just
        // before an unmapped page is still good.
        const uintptr_t addr = reinterpret_cast<uintptr_t>(p + done);
        size_t units = (kChunk - addr % kChunk) / sizeof(WCHAR);
        if (units == 0) units = 1;
        units = std::min<UINT_PTR>(units, maxUnits - done);
        if (!copy_in(p + done, buf, units * sizeof(WCHAR))) return TRUE;
        for (size_t i = 0; i < units; ++i)
            if (buf[i] == 0) return FALSE;
        done += units;
    }
    return FALSE;
}
