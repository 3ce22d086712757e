#pragma once
// The text form of a hive file. One "[path]" line per key, then one line per
// value: "name"=TYPE:hex (@ for the default value), the value's bytes exactly
// as stored, followed by a comment that shows strings and numbers readably.
// Names are UTF-8; '%', '"', '[', ']', '\', control characters and lone
// surrogates are written as %XXXX (one UTF-16 unit), so any name round-trips.
#include "registry_tree.h"

#include <memory>
#include <string>
#include <string_view>

namespace platform::reg {

std::string hive_to_text(const RegKey& root);
// nullptr when the text is not a hive (the caller must then leave the file alone).
std::unique_ptr<RegKey> hive_from_text(std::string_view text);

}  // namespace platform::reg
