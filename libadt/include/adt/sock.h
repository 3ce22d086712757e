#pragma once
// The runtime's socket helpers beside the connection object: the IPv4 name
// look-up and the last socket error as a Windows Sockets number.
#include <netinet/in.h>

// A numeric IPv4 address as is, otherwise the first IPv4 address of a name
// look-up. 0, or the Windows Sockets error (11001 host not found, ...), which
// is also left as the last socket error.
int sock_gethostbyname(const char* host, struct in_addr* address);
int sock_last_error();
