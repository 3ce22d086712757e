// Service manager stand-in: service records in the registry store.
#include <platform/errors.h>
#include <platform/registry.h>
#include <platform/winsvc.h>

#include <cstdlib>
#include <new>
#include <string>

namespace {

struct ServiceHandle {
    std::u16string name;  // empty for the manager itself
};

std::u16string key_of(const std::u16string& name) { return std::u16string(kServicesKey) + u"\\" + name; }

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

ServiceHandle* service_of(SC_HANDLE h) {
    auto* s = reinterpret_cast<ServiceHandle*>(h);
    return s && !s->name.empty() ? s : nullptr;
}

bool has_record(const std::u16string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_of(name).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    const bool exists = RegQueryValueExW(key, u"ImagePath", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

LSTATUS set_dword(HKEY key, const WCHAR* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LSTATUS set_text(HKEY key, const WCHAR* name, const WCHAR* text, DWORD type = REG_SZ) {
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((std::char_traits<char16_t>::length(text) + 1) * sizeof(WCHAR)));
}

// A double-NUL-terminated list, stored with both terminators.
LSTATUS set_multi(HKEY key, const WCHAR* name, const WCHAR* list) {
    size_t n = 0;
    while (list[n] || list[n + 1]) ++n;
    return RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list),
                          static_cast<DWORD>((n + 2) * sizeof(WCHAR)));
}

// Writes the given settings; SERVICE_NO_CHANGE and null leave a value alone.
DWORD write_config(const std::u16string& name, DWORD type, DWORD start, DWORD errorControl, LPCWSTR path,
                   LPCWSTR dependencies, LPCWSTR account, LPCWSTR displayName) {
    HKEY key = nullptr;
    LSTATUS s = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_of(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr);
    if (s != ERROR_SUCCESS) return static_cast<DWORD>(s);
    if (type != SERVICE_NO_CHANGE && s == ERROR_SUCCESS) s = set_dword(key, u"Type", type);
    if (start != SERVICE_NO_CHANGE && s == ERROR_SUCCESS) s = set_dword(key, u"Start", start);
    if (errorControl != SERVICE_NO_CHANGE && s == ERROR_SUCCESS) s = set_dword(key, u"ErrorControl", errorControl);
    if (path && s == ERROR_SUCCESS) s = set_text(key, u"ImagePath", path, REG_EXPAND_SZ);
    if (dependencies && s == ERROR_SUCCESS) s = set_multi(key, u"DependOnService", dependencies);
    if (account && s == ERROR_SUCCESS) s = set_text(key, u"ObjectName", account);
    if (displayName && s == ERROR_SUCCESS) s = set_text(key, u"DisplayName", displayName);
    RegCloseKey(key);
    return static_cast<DWORD>(s);
}

}  // namespace

SC_HANDLE OpenSCManagerW(LPCWSTR machine, LPCWSTR, DWORD) {
    if (machine && *machine) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(new ServiceHandle{});
}

SC_HANDLE CreateServiceW(SC_HANDLE scm, LPCWSTR name, LPCWSTR displayName, DWORD, DWORD serviceType, DWORD startType,
                         DWORD errorControl, LPCWSTR binaryPath, LPCWSTR, LPDWORD, LPCWSTR dependencies,
                         LPCWSTR account, LPCWSTR) {
    if (!scm || !name || !*name || !binaryPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (has_record(name)) {
        SetLastError(ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    const DWORD error = write_config(name, serviceType, startType, errorControl, binaryPath, dependencies,
                                     account ? account : u"LocalSystem", displayName ? displayName : name);
    if (error) {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(new ServiceHandle{name});
}

SC_HANDLE OpenServiceW(SC_HANDLE scm, LPCWSTR name, DWORD) {
    if (!scm || !name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!has_record(name)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(new ServiceHandle{name});
}

BOOL ChangeServiceConfigW(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
                          LPCWSTR binaryPath, LPCWSTR, LPDWORD, LPCWSTR dependencies, LPCWSTR account, LPCWSTR,
                          LPCWSTR displayName) {
    ServiceHandle* s = service_of(service);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (!has_record(s->name)) return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    const DWORD error =
        write_config(s->name, serviceType, startType, errorControl, binaryPath, dependencies, account, displayName);
    return error ? fail(error) : TRUE;
}

BOOL ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, LPVOID info) {
    ServiceHandle* s = service_of(service);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (infoLevel != SERVICE_CONFIG_DESCRIPTION || !info) return fail(ERROR_INVALID_PARAMETER);
    const auto* d = static_cast<const SERVICE_DESCRIPTIONW*>(info);
    HKEY key = nullptr;
    LSTATUS st = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_of(s->name).c_str(), 0, KEY_ALL_ACCESS, &key);
    if (st == ERROR_SUCCESS) {
        st = d->lpDescription ? set_text(key, u"Description", d->lpDescription) : LSTATUS(ERROR_SUCCESS);
        RegCloseKey(key);
    }
    return st == ERROR_SUCCESS ? TRUE : fail(static_cast<DWORD>(st));
}

BOOL DeleteService(SC_HANDLE service) {
    ServiceHandle* s = service_of(service);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (!has_record(s->name)) return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    HKEY services = nullptr;
    LSTATUS st = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_ALL_ACCESS, &services);
    if (st == ERROR_SUCCESS) {
        st = RegDeleteTreeW(services, s->name.c_str());
        RegCloseKey(services);
    }
    return st == ERROR_SUCCESS ? TRUE : fail(static_cast<DWORD>(st));
}

BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
    ServiceHandle* s = service_of(service);
    if (!s || !status) return fail(ERROR_INVALID_HANDLE);
    *status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    return TRUE;
}

BOOL ControlService(SC_HANDLE service, DWORD, SERVICE_STATUS* status) {
    if (!QueryServiceStatus(service, status)) return FALSE;
    return fail(ERROR_SERVICE_NOT_ACTIVE);
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
    if (!handle) return fail(ERROR_INVALID_HANDLE);
    delete reinterpret_cast<ServiceHandle*>(handle);
    return TRUE;
}

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table) {
    if (!table) return fail(ERROR_INVALID_PARAMETER);
    // Only a process the service manager started is connected to it.
    return fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(LPCWSTR, LPHANDLER_FUNCTION) {
    SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return nullptr;
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status) {
    if (!handle || !status) return fail(ERROR_INVALID_HANDLE);
    return TRUE;
}
