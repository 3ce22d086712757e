#pragma once
// What vdsctl prints: tables of objects (or JSON for scripts), sizes in human
// units or bytes, errors as their HRESULT with the message text, a progress
// bar, and notifications.
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <platform/vds.h>
#include <vdscmd/arguments.h>

namespace vdscmd {

using Row = nlohmann::ordered_json;

// A table of rows with the given columns; "size"-like columns hold bytes.
void PrintTable(std::ostream& out, const OutputOptions& options, const std::vector<std::string>& columns, const std::vector<Row>& rows);

std::string HumanSize(ULONGLONG bytes);
std::string Utf8(const WCHAR* text);
std::string Utf8(const std::u16string& text);
std::u16string Wide(const std::string& text);
std::string IdText(const GUID& id);
// A portal's address: dotted IPv4, else the text the provider gave.
std::string AddressText(const VDS_IPADDRESS& address);

// "0x%08X" and what failed: the description the failing call left as the
// thread's error information, else the text of the code with `inserts` (the
// names of what the call was about) filled in. The advice paragraphs of a
// message-table text are left to the event log.
std::string ErrorText(HRESULT hr, const std::vector<std::string>& inserts = {});
// Prints the error and gives the exit status kExitFailed.
int ReportError(std::ostream& err, const std::string& what, HRESULT hr, const std::vector<std::string>& inserts = {});
int ReportFailure(std::ostream& err, const std::string& what, const std::string& text);
// Before a call whose failure is reported: what an earlier call left does
// not answer for it.
void ForgetErrorInfo();

// One line per notification: target, event and object id.
std::string NotificationText(const VDS_NOTIFICATION& notification);
Row NotificationRow(const VDS_NOTIFICATION& notification);

// "[#####     ]  50%" drawn over the line before (a new line at 100%).
std::string ProgressText(ULONG percent);

}  // namespace vdscmd
