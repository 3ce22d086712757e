// scm: the service-manager stand-in's command line.
//   scm start|stop|query <name>    scm list
// start and stop return once the service has reached the state they asked
// for (at most 30 s), as systemctl does, so a stop followed at once by a
// start finds the service stopped.
#include <platform/memory.h>
#include <platform/message.h>
#include <platform/registry.h>
#include <platform/text.h>
#include <platform/winsvc.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

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

constexpr auto kWaitBound = std::chrono::seconds(30);
constexpr auto kWaitStep = std::chrono::milliseconds(100);

// Waits until the service is in `wanted`. A service that stops while it
// should start has failed to start: its exit codes say why.
int wait_for(SC_HANDLE service, const char* name, DWORD wanted) {
    const auto end = std::chrono::steady_clock::now() + kWaitBound;
    for (;;) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status)) return failed("QueryServiceStatus");
        if (status.dwCurrentState == wanted) return 0;
        if (wanted == SERVICE_RUNNING && status.dwCurrentState == SERVICE_STOPPED) {
            std::fprintf(stderr, "scm: %s stopped while starting (WIN32_EXIT_CODE %lu, SERVICE_EXIT_CODE 0x%lX)\n", name,
                         static_cast<unsigned long>(status.dwWin32ExitCode),
                         static_cast<unsigned long>(status.dwServiceSpecificExitCode));
            return 1;
        }
        if (std::chrono::steady_clock::now() >= end) {
            std::fprintf(stderr, "scm: %s did not reach %s within %lld seconds; it is %s\n", name, state_name(wanted),
                         static_cast<long long>(kWaitBound.count()), state_name(status.dwCurrentState));
            return 1;
        }
        std::this_thread::sleep_for(kWaitStep);
    }
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
        rc = StartServiceW(service, 0, nullptr) ? wait_for(service, argv[2], SERVICE_RUNNING) : failed("StartService");
    } else if (verb == "stop") {
        rc = ControlService(service, SERVICE_CONTROL_STOP, &status) ? wait_for(service, argv[2], SERVICE_STOPPED)
                                                                    : failed("ControlService");
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
