// Memory probes answer "bad" for memory that cannot be used, without a signal.
#include <platform/probe.h>

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace {
// Two pages: the first read-write, the second with no access.
struct GuardedPages {
    GuardedPages() {
        page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        base = static_cast<char*>(::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ::mprotect(base + page, page, PROT_NONE);
    }
    ~GuardedPages() { ::munmap(base, 2 * page); }
    char* base;
    size_t page;
};
}  // namespace

TEST(MemoryProbe, ReadWriteAndStringProbesStopAtTheUnusablePage) {
    GuardedPages mem;
    char* const end = mem.base + mem.page;
    EXPECT_FALSE(IsBadReadPtr(mem.base, mem.page));
    EXPECT_TRUE(IsBadReadPtr(end - 1, 2));
    EXPECT_TRUE(IsBadReadPtr(nullptr, 1));
    EXPECT_FALSE(IsBadReadPtr(nullptr, 0));

    std::strcpy(end - 4, "ab");
    EXPECT_FALSE(IsBadWritePtr(end - 4, 4));
    EXPECT_STREQ(end - 4, "ab") << "the probe leaves the bytes as they were";
    EXPECT_TRUE(IsBadWritePtr(end - 4, 5));
    ::mprotect(mem.base, mem.page, PROT_READ);
    EXPECT_TRUE(IsBadWritePtr(mem.base, 1));
    EXPECT_FALSE(IsBadReadPtr(mem.base, 1));
    ::mprotect(mem.base, mem.page, PROT_READ | PROT_WRITE);

    // A string that ends just before the guard page is good; one that runs into it is not.
    auto* units = reinterpret_cast<WCHAR*>(end) - 3;
    units[0] = u'x';
    units[1] = u'y';
    units[2] = 0;
    EXPECT_FALSE(IsBadStringPtrW(units, UINT_PTR(-1)));
    units[2] = u'z';
    EXPECT_TRUE(IsBadStringPtrW(units, UINT_PTR(-1)));
    EXPECT_FALSE(IsBadStringPtrW(units, 3)) << "the probe reads no further than it is asked";
    EXPECT_TRUE(IsBadStringPtrW(nullptr, 1));
}
