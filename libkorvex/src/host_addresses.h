#pragma once
// The addresses appliance names resolved to, kept for the connections that
// follow: a discovery opens thousands of connections to one appliance, and a
// look-up before each would read the hosts file (or ask DNS) every time.
// A name is resolved again once its address is older than
// KX_ADDRESS_LIFETIME_MS, and as soon as a connection to it fails. Numeric
// addresses are never looked up and never kept; failed look-ups are not kept.
#include <netinet/in.h>

#include <platform/types.h>

constexpr ULONGLONG KX_ADDRESS_LIFETIME_MS = 30'000;

struct host_address {
    in_addr address;
    bool remembered;       // from an earlier look-up, not resolved for this call
    ULONGLONG resolvedAt;  // the tick of the look-up that gave it
};

// 0 with the address, or the Windows Sockets error of the look-up (11001
// host not found, ...), which is also the last socket error.
int host_address_lookup(const char* host, host_address* out);
// Resolves the name now, whatever is kept for it.
int host_address_resolve(const char* host, host_address* out);
// A connection to the address opened: keep a fresh look-up for the name
// (nothing for a numeric address or one already kept).
void host_address_keep(const char* host, const host_address& resolved);
// A connection to the address failed: the name is resolved again next time.
void host_address_forget(const char* host);
