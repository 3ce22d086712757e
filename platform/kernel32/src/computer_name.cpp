#include <platform/computer_name.h>

#include <platform/errors.h>
#include <platform/text.h>

#include <netdb.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

std::string host_name() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

// The canonical name the resolver gives the host, or the host name itself.
std::string fully_qualified(const std::string& host) {
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return host;
    std::string name = result->ai_canonname ? result->ai_canonname : host;
    freeaddrinfo(result);
    return name;
}

std::string name_of(COMPUTER_NAME_FORMAT format, const std::string& host) {
    const std::string full = fully_qualified(host);
    const size_t dot = full.find('.');
    switch (format) {
    case ComputerNameDnsDomain:
    case ComputerNamePhysicalDnsDomain: return dot == std::string::npos ? std::string() : full.substr(dot + 1);
    case ComputerNameDnsFullyQualified:
    case ComputerNamePhysicalDnsFullyQualified: return full;
    default: return host.substr(0, host.find('.'));
    }
}

}  // namespace

BOOL GetComputerNameExA(COMPUTER_NAME_FORMAT format, LPSTR buffer, LPDWORD size) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string host = host_name();
    if (host.empty()) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    const std::string name = name_of(format, host);
    if (!buffer || *size < name.size() + 1) {
        *size = static_cast<DWORD>(name.size() + 1);
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return TRUE;
}

BOOL GetComputerNameW(WCHAR* buffer, LPDWORD size) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string host = host_name();
    if (host.empty()) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    std::u16string name = platform::utf8_to_wide_lossy(name_of(ComputerNameNetBIOS, host));
    if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
    for (char16_t& c : name) c = platform::to_upper_wide(c);
    if (!buffer || *size < name.size() + 1) {
        *size = static_cast<DWORD>(name.size() + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    *size = static_cast<DWORD>(name.size());
    return TRUE;
}

WCHAR* CharLowerW(WCHAR* text) {
    for (WCHAR* c = text; c && *c; ++c) *c = platform::to_lower_wide(*c);
    return text;
}
