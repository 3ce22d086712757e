#pragma once
// JSON string literals for the event log's lines.
#include <string>
#include <string_view>

namespace platform::detail {

// Appends `utf8` as a quoted JSON string: quotes, backslashes and control
// characters escaped, everything else (UTF-8 included) as it is.
void append_json_string(std::string& out, std::string_view utf8);

}  // namespace platform::detail
