#include <platform/winsock.h>

#include <cerrno>
#include <gtest/gtest.h>
#include <netdb.h>

TEST(Winsock, ErrnoAndResolverCodesBecomeWindowsSocketsNumbers) {
    const struct {
        int err;
        DWORD wsa;
    } errnoCases[] = {{ETIMEDOUT, 10060}, {ECONNREFUSED, 10061}, {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051},
                      {ECONNRESET, 10054}, {EPIPE, 10054},        {EINPROGRESS, 10036},  {EWOULDBLOCK, 10035},
                      {EADDRINUSE, 10048}, {EPERM, 10013},        {ENOTRECOVERABLE, WSASYSCALLFAILURE}};
    for (const auto& c : errnoCases) EXPECT_EQ(platform::wsa_error_from_errno(c.err), c.wsa) << c.err;

    EXPECT_EQ(platform::wsa_error_from_gai(EAI_NONAME, 0), 11001u);
    EXPECT_EQ(platform::wsa_error_from_gai(EAI_AGAIN, 0), 11002u);
    EXPECT_EQ(platform::wsa_error_from_gai(EAI_FAIL, 0), 11003u);
    EXPECT_EQ(platform::wsa_error_from_gai(EAI_SYSTEM, ECONNREFUSED), 10061u);
}

TEST(Winsock, StartsAreCountedAndCleanupWithoutStartFails) {
    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &data), static_cast<int>(WSAVERNOTSUPPORTED));
    const int before = platform::wsa_start_count();
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    EXPECT_EQ(platform::wsa_start_count(), before + 1);
    EXPECT_EQ(WSACleanup(), 0);
    while (platform::wsa_start_count() > 0) WSACleanup();
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(WSANOTINITIALISED));
}
