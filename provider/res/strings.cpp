// The program's string table, registered as the program module's string resources.
#include <platform/library.h>
#include <platform/string_table.h>

namespace {

const StringTableEntry kStrings[] = {
    {100, u"SanProvD"},
    {101, u"This service implements Fibre Channel and iSCSI hardware providers that allow Microsoft Virtual Disk "
          u"Service to manage Zarvo filer devices."},
    {102, u"Zarvo VDS Hardware Provider"},
    {105, u"Zarvo VDS Hardware Provider (FCP)"},
    {106, u"Zarvo VDS Hardware Provider (iSCSI)"},
};

struct StringTableRegistration {
    StringTableRegistration() { platform::register_string_table(GetModuleHandleW(nullptr), kStrings); }
} g_registration;

}  // namespace
