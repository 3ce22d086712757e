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

// "0x%08X" and the message text: the thread's error information when there
// is one, else the text of the code.
std::string ErrorText(HRESULT hr);
// Prints the error and gives the exit status 1.
int ReportError(std::ostream& err, const std::string& what, HRESULT hr);

// One line per notification: target, event and object id.
std::string NotificationText(const VDS_NOTIFICATION& notification);
Row NotificationRow(const VDS_NOTIFICATION& notification);

// "[#####     ]  50%" drawn over the line before (a new line at 100%).
std::string ProgressText(ULONG percent);

}  // namespace vdscmd
