// scm: the service-manager stand-in's command line.
//   scm start|stop|query <name>    scm list
#include <platform/memory.h>
#include <platform/message.h>
#include <platform/registry.h>
#include <platform/text.h>
#include <platform/winsvc.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* state_name(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    default: return "UNKNOWN";
    }
}

int usage() {
    std::fprintf(stderr, "usage: scm start|stop|query <name> | scm list\n");
    return 2;
}

// The code and the system's text for it, so "the registry cannot be read"
// does not pass for "no such service".
int failed(const char* what, DWORD error = GetLastError()) {
    WCHAR* text = nullptr;
    constexpr DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    std::string said;
    if (FormatMessageW(flags, nullptr, error, 0, reinterpret_cast<WCHAR*>(&text), 0, nullptr) && text) {
        said = platform::wide_to_utf8_lossy(text);
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
        LocalFree(text);
    }
    std::fprintf(stderr, "scm: %s failed: %lu%s%s%s\n", what, static_cast<unsigned long>(error),
                 said.empty() ? "" : " (", said.c_str(), said.empty() ? "" : ")");
    return 1;
}

int list() {
    HKEY services = nullptr;
    const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_READ, &services);
    if (opened == ERROR_FILE_NOT_FOUND) return 0;
    if (opened != ERROR_SUCCESS) return failed("RegOpenKeyEx", static_cast<DWORD>(opened));
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD n = 256;
        if (RegEnumKeyExW(services, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        SC_HANDLE service = OpenServiceW(scm, name, SERVICE_QUERY_STATUS);
        if (!service) continue;  // a key without a service record
        SERVICE_STATUS status{};
        QueryServiceStatus(service, &status);
        std::printf("%-20s %s\n", platform::wide_to_utf8_lossy(name).c_str(), state_name(status.dwCurrentState));
        CloseServiceHandle(service);
    }
    CloseServiceHandle(scm);
    RegCloseKey(services);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "list") == 0) return list();
    if (argc != 3) return usage();
    const std::string verb = argv[1];
    const std::u16string name = platform::utf8_to_wide_lossy(argv[2]);
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm) return failed("OpenSCManager");
    SC_HANDLE service = OpenServiceW(scm, name.c_str(), SERVICE_ALL_ACCESS);
    if (!service) return failed("OpenService");
    int rc = 0;
    SERVICE_STATUS status{};
    if (verb == "start") {
        if (!StartServiceW(service, 0, nullptr)) rc = failed("StartService");
    } else if (verb == "stop") {
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) rc = failed("ControlService");
    } else if (verb == "query") {
        QueryServiceStatus(service, &status);
        // The codes also in hex: a service-specific code is usually an HRESULT.
        std::printf("STATE %lu %s\nWIN32_EXIT_CODE %lu (0x%lX)\nSERVICE_EXIT_CODE %lu (0x%lX)\n",
                    static_cast<unsigned long>(status.dwCurrentState), state_name(status.dwCurrentState),
                    static_cast<unsigned long>(status.dwWin32ExitCode),
                    static_cast<unsigned long>(status.dwWin32ExitCode),
                    static_cast<unsigned long>(status.dwServiceSpecificExitCode),
                    static_cast<unsigned long>(status.dwServiceSpecificExitCode));
    } else {
        rc = usage();
    }
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    return rc;
}
