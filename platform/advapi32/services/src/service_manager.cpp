// Service manager stand-in: service records in the registry store.
#include <platform/errors.h>
#include <platform/registry.h>
#include <platform/winsvc.h>

#include <platform/stand_in_files.h>
#include <platform/state_root.h>
#include <platform/text.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <new>
#include <string>
#include <vector>

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

// ERROR_SUCCESS when the service has a record, ERROR_SERVICE_DOES_NOT_EXIST
// when it has none, or the registry's own error when the records cannot be
// read (a damaged store is not a missing service).
DWORD find_record(const std::u16string& name) {
    HKEY key = nullptr;
    LSTATUS s = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_of(name).c_str(), 0, KEY_READ, &key);
    if (s == ERROR_SUCCESS) {
        s = RegQueryValueExW(key, u"ImagePath", nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
    }
    if (s == ERROR_FILE_NOT_FOUND || s == ERROR_KEY_DELETED) return ERROR_SERVICE_DOES_NOT_EXIST;
    return static_cast<DWORD>(s);
}

bool has_record(const std::u16string& name) { return find_record(name) == ERROR_SUCCESS; }

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
    if (const DWORD found = find_record(name); found != ERROR_SERVICE_DOES_NOT_EXIST) {
        SetLastError(found == ERROR_SUCCESS ? ERROR_SERVICE_EXISTS : found);
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
    if (const DWORD found = find_record(name); found != ERROR_SUCCESS) {
        SetLastError(found);
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

BOOL CloseServiceHandle(SC_HANDLE handle) {
    if (!handle) return fail(ERROR_INVALID_HANDLE);
    delete reinterpret_cast<ServiceHandle*>(handle);
    return TRUE;
}

namespace {

// The running service's state: run/scm/<name>.status holds "state exit specific pid";
// a stop request is the file run/scm/<name>.stop.
std::filesystem::path scm_file(const std::u16string& name, const char* suffix) {
    return platform::state_dir("run/scm") / (platform::wide_to_utf8_lossy(name) + suffix);
}

SERVICE_STATUS read_status(const std::u16string& name) {
    SERVICE_STATUS st{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    std::ifstream in(scm_file(name, ".status"));
    long pid = 0;
    if (!(in >> st.dwCurrentState >> st.dwWin32ExitCode >> st.dwServiceSpecificExitCode >> pid)) return st;
    // A process that is gone without reporting it stopped has died: it
    // stopped, and not cleanly.
    if (st.dwCurrentState != SERVICE_STOPPED && (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0)) {
        st.dwCurrentState = SERVICE_STOPPED;
        if (st.dwWin32ExitCode == 0) st.dwWin32ExitCode = ERROR_PROCESS_ABORTED;
    }
    if (st.dwCurrentState == SERVICE_RUNNING) st.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    return st;
}

void write_status(const std::u16string& name, const SERVICE_STATUS& st, long pid) {
    const auto file = scm_file(name, ".status");
    const auto tmp = file.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << st.dwCurrentState << ' ' << st.dwWin32ExitCode << ' ' << st.dwServiceSpecificExitCode << ' ' << pid
            << '\n';
    }
    std::error_code ec;
    std::filesystem::rename(tmp, file, ec);
}

std::u16string image_of(const std::u16string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_of(name).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    WCHAR path[1024] = {};
    DWORD size = sizeof path - sizeof(WCHAR);
    const LSTATUS s = RegQueryValueExW(key, u"ImagePath", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    return s == ERROR_SUCCESS ? path : u"";
}

constexpr const char* kServiceEnv = "SANPROV_SCM_SERVICE";

struct Dispatcher {
    std::u16string name;
    LPHANDLER_FUNCTION handler = nullptr;
    std::atomic<bool> active{false};
};

Dispatcher& dispatcher() {
    static Dispatcher* d = new Dispatcher;
    return *d;
}

}  // namespace

BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
    ServiceHandle* s = service_of(service);
    if (!s || !status) return fail(ERROR_INVALID_HANDLE);
    *status = read_status(s->name);
    return TRUE;
}

BOOL StartServiceW(SC_HANDLE service, DWORD, LPCWSTR*) {
    ServiceHandle* s = service_of(service);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (read_status(s->name).dwCurrentState != SERVICE_STOPPED) return fail(ERROR_SERVICE_ALREADY_RUNNING);
    const std::string image = platform::wide_to_utf8_lossy(image_of(s->name));
    if (image.empty()) return fail(ERROR_SERVICE_DOES_NOT_EXIST);
    std::error_code ec;
    std::filesystem::remove(scm_file(s->name, ".stop"), ec);
    const std::string name = platform::wide_to_utf8_lossy(s->name);
    // Made before the fork, as the child may only make system calls. The
    // service reads the stand-ins' files where the starter meant them.
    std::vector<std::string> environment = platform::environment_with_absolute_stand_in_paths();
    std::erase_if(environment, [](const std::string& e) { return e.starts_with(std::string(kServiceEnv) + "="); });
    environment.push_back(std::string(kServiceEnv) + "=" + name);
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    // The grandchild waits until its start is recorded, so its own reports come after.
    int pidPipe[2], goPipe[2];
    if (::pipe(pidPipe) != 0) return fail(ERROR_NOT_ENOUGH_MEMORY);
    if (::pipe(goPipe) != 0) {
        ::close(pidPipe[0]);
        ::close(pidPipe[1]);
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The image runs without switches, detached, so it outlives the starter.
        ::setsid();
        const pid_t child = ::fork();
        if (child != 0) {
            (void)!::write(pidPipe[1], &child, sizeof child);
            ::_exit(0);
        }
        ::close(goPipe[1]);
        char go;
        (void)!::read(goPipe[0], &go, 1);
        ::close(goPipe[0]);
        // A service has no console: it keeps none of its starter's output open.
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3 && null >= 0; ++fd) ::dup2(null, fd);
        if (null > 2) ::close(null);
        char* const argv[] = {const_cast<char*>(image.c_str()), nullptr};
        ::execve(image.c_str(), argv, envp.data());
        ::_exit(127);
    }
    ::close(pidPipe[1]);
    ::close(goPipe[0]);
    pid_t started = -1;
    const bool forked = pid > 0 && ::read(pidPipe[0], &started, sizeof started) == sizeof started;
    ::close(pidPipe[0]);
    if (forked)
        write_status(s->name, SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0},
                     static_cast<long>(started));
    ::close(goPipe[1]);
    if (pid > 0) {
        int ignored = 0;
        ::waitpid(pid, &ignored, 0);
    }
    if (!forked) return fail(ERROR_NOT_ENOUGH_MEMORY);
    return TRUE;
}

BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) {
    if (!QueryServiceStatus(service, status)) return FALSE;
    if (status->dwCurrentState == SERVICE_STOPPED) return fail(ERROR_SERVICE_NOT_ACTIVE);
    std::ofstream(scm_file(service_of(service)->name, ".stop")) << control << '\n';
    return TRUE;
}

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table) {
    if (!table || !table[0].lpServiceName) return fail(ERROR_INVALID_PARAMETER);
    // Only a process the service manager started is connected to it.
    const char* started = std::getenv(kServiceEnv);
    if (!started || platform::utf8_to_wide_lossy(started) != table[0].lpServiceName)
        return fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    ::unsetenv(kServiceEnv);  // the service's own children are not services
    Dispatcher& d = dispatcher();
    d.name = table[0].lpServiceName;
    d.active = true;
    std::atomic<bool> done{false};
    std::thread main([&] {
        table[0].lpServiceProc(0, nullptr);
        done = true;
    });
    // The dispatcher delivers controls until the service's main returns.
    const auto stopFile = scm_file(d.name, ".stop");
    while (!done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream in(stopFile);
        DWORD control = 0;
        if (in >> control) {
            in.close();
            std::error_code ec;
            std::filesystem::remove(stopFile, ec);
            if (d.handler) d.handler(control);
        }
    }
    main.join();
    d.active = false;
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(LPCWSTR name, LPHANDLER_FUNCTION handler) {
    Dispatcher& d = dispatcher();
    if (!d.active || !name || d.name != name) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return nullptr;
    }
    d.handler = handler;
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(&d);
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status) {
    if (!handle || !status) return fail(ERROR_INVALID_HANDLE);
    write_status(dispatcher().name, *status, static_cast<long>(::getpid()));
    return TRUE;
}
