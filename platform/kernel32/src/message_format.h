#pragma once
// Expansion of a message text: escapes (%n %r %t %0 %% ...) and typed inserts
// (%1 ... %99 with their !fmt! forms), in one pass.
#include <string>
#include <string_view>

#include <platform/message.h>

namespace platform::detail {

struct ExpandOptions {
    bool ignoreInserts = false;       // FORMAT_MESSAGE_IGNORE_INSERTS
    bool lineBreaksAsBlanks = false;  // FORMAT_MESSAGE_MAX_WIDTH_MASK
};

// Appends the expansion of `text` to `out`. Returns false for a malformed
// insert form (an unclosed or unknown !fmt!).
bool expand_message(std::u16string_view text, const MessageArgs* args, ExpandOptions options, std::u16string& out);

}  // namespace platform::detail
