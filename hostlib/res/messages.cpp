#include <res/message_ids.h>

#include <platform/library.h>
#include <platform/message.h>

namespace {

#define MSG(id, name, text) MessageTableEntry{id, #name, text},
const MessageTableEntry kMessages[] = {
#include "messages.inc"
};
#undef MSG

// The table belongs to the program's own module, as its resource would.
struct MessageTableRegistration {
    MessageTableRegistration() { platform::register_message_table(GetModuleHandleW(nullptr), kMessages); }
} g_registration;

}  // namespace
