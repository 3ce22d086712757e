// The iSCSI discovery library of this platform, over open-iscsi's
// configuration: it reads the initiator's name file and records static targets
// as files, and starts nothing.
#include <platform/errors.h>
#include <platform/iscsidsc.h>
#include <platform/state_root.h>
#include <platform/text.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>

#define ISCSIDSC_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr const char* kDefaultNameFile = "/etc/iscsi/initiatorname.iscsi";
constexpr std::string_view kNameKey = "InitiatorName=";

std::string name_file() {
    const char* path = std::getenv("SANPROV_ISCSI_INITIATOR_NAME_FILE");
    return (path && *path) ? path : kDefaultNameFile;
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The first "InitiatorName=" line; comments and other keys are passed over.
std::optional<std::u16string> configured_node_name() {
    std::ifstream in(name_file());
    for (std::string line; std::getline(in, line);) {
        const std::string_view text = trim(line);
        if (!text.starts_with(kNameKey)) continue;
        const std::string_view value = trim(text.substr(kNameKey.size()));
        auto wide = platform::utf8_to_wide(value);
        if (!wide || wide->empty() || wide->size() > MAX_ISCSI_NAME_LEN) return std::nullopt;
        return wide;
    }
    return std::nullopt;
}

// A node name becomes a file name: it must be one path component.
bool usable_target_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::optional<std::string> narrow(const WCHAR* text) {
    if (!text) return std::string();
    return platform::wide_to_utf8(std::u16string_view(text, platform::wide_length(text)));
}

// Written beside and renamed over, so a reader never sees half a record.
bool write_record(const std::filesystem::path& file, const std::string& content) {
    const std::string temporary = file.string() + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    written = ::fsync(fd) == 0 && written;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

ISCSIDSC_EXPORT ISDSC_STATUS GetIScsiInitiatorNodeNameW(WCHAR* initiatorNodeName) {
    if (!initiatorNodeName) return ERROR_INVALID_PARAMETER;
    const auto name = configured_node_name();
    if (!name) return ISDSC_INITIATOR_NODE_NOT_FOUND;
    std::memcpy(initiatorNodeName, name->c_str(), (name->size() + 1) * sizeof(WCHAR));
    return ERROR_SUCCESS;
}

ISCSIDSC_EXPORT ISDSC_STATUS ReportIScsiInitiatorListW(ULONG* bufferSize, WCHAR* buffer) {
    if (!bufferSize) return ERROR_INVALID_PARAMETER;
    std::u16string list;
    if (configured_node_name()) list.append(ISCSI_SOFTWARE_INITIATOR_NAME).push_back(u'\0');
    list.push_back(u'\0');
    if (list.size() == 1) list.push_back(u'\0');  // an empty list is still two terminators
    const ULONG needed = static_cast<ULONG>(list.size());
    const bool fits = buffer && *bufferSize >= needed;
    *bufferSize = needed;
    if (!fits) return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(buffer, list.data(), list.size() * sizeof(WCHAR));
    return ERROR_SUCCESS;
}

ISCSIDSC_EXPORT ISDSC_STATUS AddIScsiStaticTargetW(const WCHAR* targetName, const WCHAR* targetAlias,
                                                   ISCSI_TARGET_FLAGS targetFlags, BOOLEAN persist,
                                                   ISCSI_TARGET_MAPPINGW*, ISCSI_LOGIN_OPTIONS*,
                                                   ISCSI_TARGET_PORTAL_GROUPW*) {
    if (!targetName || platform::wide_length(targetName) > MAX_ISCSI_NAME_LEN) return ERROR_INVALID_PARAMETER;
    const auto name = narrow(targetName);
    const auto alias = narrow(targetAlias);
    if (!name || !alias || !usable_target_name(*name) || alias->find('\n') != std::string::npos)
        return ERROR_INVALID_PARAMETER;
    const auto directory = platform::state_dir("iscsi/static-targets");
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%08X", targetFlags);
    const std::string record = "TargetName=" + *name + "\nTargetAlias=" + *alias + "\nTargetFlags=" + flags +
                               "\nPersist=" + (persist ? "1" : "0") + "\n";
    return write_record(directory / *name, record) ? ERROR_SUCCESS : ISDSC_NON_SPECIFIC_ERROR;
}
