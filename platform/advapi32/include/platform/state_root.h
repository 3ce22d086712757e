#pragma once
// The state root: $SANPROV_ROOT (default /var/lib/sanprov) holds the registry
// store, the event log, the run socket and iSCSI state. Read on every call so
// tests can point it at a fresh directory.
#include <filesystem>
#include <string>

namespace platform {
std::filesystem::path state_root();
// <root>/<sub>: every directory from the root down to it is mode 0700 (made so
// when missing, tightened when open to others; an existing root is left as it
// is). Throws nothing; returns the path even when it could not be made (the
// caller's open then fails).
std::filesystem::path state_dir(const std::string& sub);
}  // namespace platform
