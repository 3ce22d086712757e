#include <vdscmd/output.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>

#include <hostlib/com_error.h>
#include <platform/bstr.h>
#include <platform/errorinfo.h>
#include <platform/guid.h>
#include <platform/memory.h>
#include <platform/text.h>

namespace vdscmd {
namespace {

const std::map<HRESULT, const char*> kVdsTexts = {
    {VDS_E_NOT_SUPPORTED, "The operation is not supported by the object."},
    {VDS_E_PROVIDER_ALREADY_REGISTERED, "The provider is already registered."},
    {VDS_E_ANOTHER_CALL_IN_PROGRESS, "Another operation is in progress on this object."},
    {VDS_E_OBJECT_NOT_FOUND, "The object was not found."},
    {VDS_E_OPERATION_PENDING, "The operation is still in progress."},
    {VDS_E_CANCEL_TOO_LATE, "The operation can no longer be canceled."},
    {VDS_E_NOT_ENOUGH_SPACE, "There is not enough usable space for this operation."},
    {VDS_E_NOT_ENOUGH_DRIVE, "There are not enough usable drives for this operation."},
    {VDS_E_INVALID_OPERATION, "The requested operation is not valid."},
    {VDS_E_OBJECT_DELETED, "The object is no longer valid: its subsystem is not active."},
    {E_INVALIDARG, "One or more arguments are not valid."},
    {E_POINTER, "Invalid pointer."},
    {E_FAIL, "Unspecified error."},
    {E_OUTOFMEMORY, "Not enough memory."},
};

bool IsSizeColumn(const std::string& column) { return column == "size" || column == "free"; }

std::string Cell(const OutputOptions& options, const std::string& column, const nlohmann::ordered_json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_null()) return "";
    if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
    if (IsSizeColumn(column) && value.is_number_unsigned() && !options.bytes) return HumanSize(value.get<ULONGLONG>());
    return value.dump();
}

}  // namespace

void PrintTable(std::ostream& out, const OutputOptions& options, const std::vector<std::string>& columns,
                const std::vector<Row>& rows) {
    if (options.json) {
        out << nlohmann::ordered_json(rows).dump() << "\n";  // one document per line
        return;
    }
    std::vector<size_t> widths;
    std::vector<std::vector<std::string>> cells;
    for (const std::string& column : columns) widths.push_back(column.size());
    for (const Row& row : rows) {
        std::vector<std::string> line;
        for (size_t i = 0; i < columns.size(); ++i) {
            line.push_back(row.contains(columns[i]) ? Cell(options, columns[i], row[columns[i]]) : "");
            widths[i] = std::max(widths[i], line.back().size());
        }
        cells.push_back(std::move(line));
    }
    auto printLine = [&](const std::vector<std::string>& line) {
        std::string text;
        for (size_t i = 0; i < line.size(); ++i) {
            text += line[i];
            if (i + 1 < line.size()) text += std::string(widths[i] - line[i].size() + 2, ' ');
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out << text << "\n";
    };
    std::vector<std::string> header;
    for (const std::string& column : columns) {
        std::string upper = column;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        header.push_back(upper);
    }
    printLine(header);
    for (const auto& line : cells) printLine(line);
}

std::string HumanSize(ULONGLONG bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof(text), "%" PRIu64 " B", static_cast<uint64_t>(bytes));
    else
        std::snprintf(text, sizeof(text), "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string Utf8(const WCHAR* text) { return text ? Utf8(std::u16string(text)) : std::string(); }

std::string Utf8(const std::u16string& text) { return platform::wide_to_utf8_lossy(text); }

std::string AddressText(const VDS_IPADDRESS& address) {
    if (address.type == VDS_IPT_IPV4) {
        const ULONG a = address.ipv4Address;
        return std::to_string((a >> 24) & 255) + "." + std::to_string((a >> 16) & 255) + "." +
               std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
    }
    return Utf8(address.wszTextAddress);
}

std::u16string Wide(const std::string& text) { return platform::utf8_to_wide_lossy(text); }

std::string IdText(const GUID& id) { return platform::guid_to_text(id); }

namespace {

// The description the failing call left as the thread's error information
// (taking it: it answers for that call only).
std::string TakeErrorDescription() {
    std::string message;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description) message = Utf8(description);
        SysFreeString(description);
        info->Release();
    }
    return message;
}

std::string TableText(HRESULT hr, const std::vector<std::string>& inserts) {
    platform::MessageArgs args;
    for (const std::string& insert : inserts) args.items.emplace_back(Wide(insert));
    WCHAR* text = nullptr;
    get_message_text(hr, &text, &args);
    std::string message = Utf8(text);
    LocalFree(text);
    return message;
}

}  // namespace

void ForgetErrorInfo() { SetErrorInfo(0, nullptr); }

std::string ErrorText(HRESULT hr, const std::vector<std::string>& inserts) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(hr));
    // What the call reported (the appliance's reason, the names filled in)
    // says more than the fixed text of its code.
    std::string message = TakeErrorDescription();
    if (message.empty())
        if (auto known = kVdsTexts.find(hr); known != kVdsTexts.end()) message = known->second;
    if (message.empty()) message = TableText(hr, inserts);
    // The first paragraph says what failed; the rest (after a line end and a
    // paragraph mark) is advice for the event log's reader.
    if (const size_t advice = message.find("\r\n\r"); advice != std::string::npos) message.resize(advice);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return std::string(code) + (message.empty() ? "" : ": " + message);
}

int ReportError(std::ostream& err, const std::string& what, HRESULT hr, const std::vector<std::string>& inserts) {
    return ReportFailure(err, what, ErrorText(hr, inserts));
}

int ReportFailure(std::ostream& err, const std::string& what, const std::string& text) {
    err << "vdsctl: " << what << " failed: " << text << "\n";
    return kExitFailed;
}

namespace {
struct EventName {
    ULONG event;
    const char* target;
    const char* change;
};
const EventName kEvents[] = {
    {101, "subsystem", "arrive"},  {102, "subsystem", "depart"},   {151, "subsystem", "modify"},
    {103, "controller", "arrive"}, {104, "controller", "depart"},  {105, "drive", "arrive"},
    {106, "drive", "depart"},      {107, "drive", "modify"},       {108, "lun", "arrive"},
    {109, "lun", "depart"},        {110, "lun", "modify"},         {121, "port", "arrive"},
    {122, "port", "depart"},       {123, "portal", "arrive"},      {124, "portal", "depart"},
    {125, "portal", "modify"},     {126, "target", "arrive"},      {127, "target", "depart"},
    {128, "target", "modify"},     {129, "portal-group", "arrive"}, {130, "portal-group", "depart"},
    {131, "portal-group", "modify"},
};
}  // namespace

Row NotificationRow(const VDS_NOTIFICATION& notification) {
    ULONG event = 0;
    GUID id{};
    std::memcpy(&event, reinterpret_cast<const BYTE*>(&notification) + 8, sizeof(event));
    std::memcpy(&id, reinterpret_cast<const BYTE*>(&notification) + 12, sizeof(id));
    Row row;
    row["object"] = "unknown";
    row["event"] = std::to_string(event);
    for (const EventName& name : kEvents)
        if (name.event == event) {
            row["object"] = name.target;
            row["event"] = name.change;
        }
    row["id"] = IdText(id);
    return row;
}

std::string NotificationText(const VDS_NOTIFICATION& notification) {
    const Row row = NotificationRow(notification);
    return "notification: " + row["object"].get<std::string>() + " " + row["event"].get<std::string>() + " " +
           row["id"].get<std::string>();
}

std::string ProgressText(ULONG percent) {
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(std::min<ULONG>(percent, 100) * kWidth / 100);
    char tail[16];
    std::snprintf(tail, sizeof(tail), "] %3u%%", static_cast<unsigned>(percent));
    return "\r[" + std::string(filled, '#') + std::string(kWidth - filled, ' ') + tail + (percent >= 100 ? "\n" : "");
}

}  // namespace vdscmd
