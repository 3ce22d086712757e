#pragma once
// vdsctl's side of the disk-management socket.
#include <vdscmd/wire.h>

namespace vdscmd {

// Runs one command in sanprovd and gives its exit status. With no service
// listening it has the service started, as an activation of its classes
// does, and tries again for up to 30 s. What the service streams back goes to
// this process's standard output and error as it arrives.
int RunInService(const wire::Command& command);

}  // namespace vdscmd
