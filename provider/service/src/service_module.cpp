#include <service/service_module.h>

#include <hostlib/com_security.h>
#include <hostlib/trace.h>
#include <hostlib/utilities.h>
#include <korvex/server.h>
#include <platform/apartment.h>
#include <platform/classtable.h>
#include <platform/comalloc.h>
#include <platform/local_server.h>
#include <platform/memory.h>
#include <platform/provider_admin.h>
#include <platform/registry.h>
#include <platform/stand_in_files.h>
#include <platform/string_table.h>
#include <platform/text.h>
#include <platform/thread.h>
#include <platform/vds_admin.h>
#include <platform/winuser.h>
#include <res/message_ids.h>
#include <service/abnormal_end.h>
#include <service/provider_admin.h>
#include <service/registry_scripts.h>
#include <vds/provider_ids.h>
#include <vds/zarvo_provider.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

namespace {

constexpr const WCHAR* kEventSourcesKey = u"System\\CurrentControlSet\\Services\\EventLog\\Application\\";

std::u16string load_string(UINT id) {
    WCHAR* text = nullptr;
    LoadResourceString(id, &text);
    std::u16string s = text ? text : u"";
    std::free(text);  // LoadResourceString allocates with calloc
    return s;
}

void IdleTimerProc(HWND, UINT, UINT_PTR, DWORD) { _Module().IdleTick(); }

// A stand-in's file that cannot be loaded leaves the service without what it
// stands in for (no HBA library is a host without HBAs): said once, at start.
void ReportUnloadableStandInFiles(const CEventLogReporter& log) {
    for (const auto& file : platform::configured_stand_in_files())
        if (const DWORD error = platform::check_stand_in_file(file))
            log.LogEvent(u"Failed to load %s", platform::describe_stand_in_problem(file, error));
}

// Whatever ends the process without a stop (an exception nothing caught, on
// any thread) is the service's failure: an event, and the stopped state with
// an exit code that tells the service manager so.
[[noreturn]] void EndAbnormally() {
    if (ClaimAbnormalEnd()) {
        std::string what = "no exception";
        if (const auto error = std::current_exception()) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
                what = "an unknown exception";
            }
        }
        CServiceModule& m = _Module();
        m.LogEvent(u"Service terminated unexpectedly: %s", what);
        m.m_status.dwWin32ExitCode = ERROR_PROCESS_ABORTED;
        m.SetServiceStatus(SERVICE_STOPPED);
    }
    std::abort();
}

// The class table: the two providers and the administration class.
struct ClassEntry {
    const CLSID* clsid;
    UINT script;
};
constexpr ClassEntry kClassTable[] = {
    {&CLSID_ZarvoVdsProviderFC, IDR_PROVIDER_FC},
    {&CLSID_ZarvoVdsProviderIscsi, IDR_PROVIDER_ISCSI},
    {&CLSID_ZarvoVdsProviderAdmin, IDR_PROVIDER_ADMIN},
};

HRESULT class_object(const CLSID& clsid, IUnknown** object) {
    if (clsid == CLSID_ZarvoVdsProviderAdmin) {
        *object = ProviderAdminClassFactory();
        return S_OK;
    }
    return GetProviderClassObject(clsid, IID_IUnknown, reinterpret_cast<void**>(object));
}

struct ProviderRegistration {
    const GUID* providerId;
    const CLSID* clsid;
    UINT nameId;
    const GUID* versionId;
    const WCHAR* step;
};
constexpr ProviderRegistration kProviders[] = {
    {&ZARVO_FC_PROVIDER_ID, &CLSID_ZarvoVdsProviderFC, IDS_PROVIDER_NAME_FCP, &ZARVO_FC_PROVIDER_VERSION_ID,
     u"RegisterFcpProvider"},
    {&ZARVO_ISCSI_PROVIDER_ID, &CLSID_ZarvoVdsProviderIscsi, IDS_PROVIDER_NAME_ISCSI, &ZARVO_ISCSI_PROVIDER_VERSION_ID,
     u"RegisterIscsiProvider"},
};

// The disk-management service object; its stand-in keeps the registrations
// in the registry store, so this process serves it for the one call.
HRESULT vds_admin(IVdsAdmin** admin, DWORD* cookie) {
    platform::register_vds_service_class(cookie);
    return CoCreateInstance(CLSID_VdsService, nullptr, CLSCTX_LOCAL_SERVER, IID_IVdsAdmin,
                            reinterpret_cast<void**>(admin));
}

}  // namespace

CServiceModule& _Module() {
    static CServiceModule module;
    return module;
}

void CServiceModule::Init() {
    m_szServiceName = load_string(100);
    m_szDisplayName = load_string(102);
    m_szDescription = load_string(101);
    m_status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
    m_bService = true;
    SetModuleLockCount(this);
    set_process_event_reporter(this);
    std::set_terminate(EndAbnormally);
    ArmFatalSignalEvents(*this);
}

std::u16string CServiceModule::ModulePath() {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return platform::utf8_to_wide_lossy(path.string());
}

int CServiceModule::WinMain(const std::u16string& commandLine) {
    // A switch is the whole rest of the line after a "-" or "/".
    for (size_t at = commandLine.find_first_of(u"-/"); at != std::u16string::npos;
         at = commandLine.find_first_of(u"-/", at + 1)) {
        const std::u16string rest = commandLine.substr(at + 1);
        if (platform::compare_wide_nocase(rest, u"UnregServer") == 0) return UnregisterServer();
        if (platform::compare_wide_nocase(rest, u"Service") == 0) return RegisterServer();
    }
    std::u16string name = m_szServiceName;
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        m_bService = false;
        Run();
    }
    return static_cast<int>(m_status.dwWin32ExitCode);
}

void CServiceModule::ReportStepFailure(const WCHAR* step, HRESULT hr) {
    const WCHAR* inserts[] = {step, HresultToString(hr)};
    LogEvent(res::MSG_STEP_FAILED, WORD{2}, inserts);
}

bool CServiceModule::Install() {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm) {
        ReportStepFailure(u"OpenSCManager", E_FAIL);
        return false;
    }
    const std::u16string path = ModulePath();
    const WCHAR dependencies[] = u"RPCSS\0";
    bool changed = false;
    SC_HANDLE service = OpenServiceW(scm, m_szServiceName.c_str(), SERVICE_CHANGE_CONFIG);
    if (service) {
        changed = ChangeServiceConfigW(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       path.c_str(), nullptr, nullptr, dependencies, nullptr, nullptr,
                                       m_szDisplayName.c_str());
        if (changed) trace_printf("CServiceModule::Install(): provider service updated");
        else {
            CloseServiceHandle(service);
            service = nullptr;
        }
    } else {
        service = CreateServiceW(scm, m_szServiceName.c_str(), m_szDisplayName.c_str(), SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(),
                                 nullptr, nullptr, dependencies, nullptr, nullptr);
        if (service) trace_printf("CServiceModule::Install(): provider service created");
    }
    if (!service) {
        CloseServiceHandle(scm);
        ReportStepFailure(u"CreateService", E_FAIL);
        return false;
    }
    SERVICE_DESCRIPTIONW description{m_szDescription.data()};
    const bool described = ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    if (!described) {
        ReportStepFailure(u"ChangeServiceConfig2", E_FAIL);
        return false;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::u16string(kEventSourcesKey) + m_szServiceName).c_str(), 0, nullptr,
                        0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const DWORD types = 7;
        RegSetValueExW(key, u"EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
        RegSetValueExW(key, u"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
        RegCloseKey(key);
    }
    LogEvent(changed ? res::MSG_SERVICE_MODIFIED : res::MSG_SERVICE_INSTALLED, WORD{0}, static_cast<const WCHAR* const*>(nullptr));
    return true;
}

bool CServiceModule::Uninstall() {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm) return true;
    SC_HANDLE service = OpenServiceW(scm, m_szServiceName.c_str(), SERVICE_QUERY_STATUS);
    if (!service) {
        CloseServiceHandle(scm);
        return true;
    }
    CloseServiceHandle(service);
    service = OpenServiceW(scm, m_szServiceName.c_str(), SERVICE_STOP | DELETE);
    if (!service) {
        CloseServiceHandle(scm);
        ReportStepFailure(u"OpenService", E_FAIL);
        return false;
    }
    SERVICE_STATUS status{};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    const bool deleted = DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    if (!deleted) {
        ReportStepFailure(u"DeleteService", E_FAIL);
        return false;
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::u16string(kEventSourcesKey) + m_szServiceName).c_str());
    LogEvent(res::MSG_SERVICE_REMOVED, WORD{0}, static_cast<const WCHAR* const*>(nullptr));
    return true;
}

HRESULT CServiceModule::RegisterServer() {
    const WCHAR* step = u"CoInitializeEx";
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IVdsAdmin* admin = nullptr;
    DWORD vdsCookie = 0;
    const std::u16string path = ModulePath();
    if (SUCCEEDED(hr)) {
        step = u"UpdateRegistryFromResource";
        hr = UpdateRegistryFromResource(IDR_APPID, true, path);
    }
    if (SUCCEEDED(hr) && !Install()) {
        step = u"Install()";
        hr = E_FAIL;
    }
    for (const auto& c : kClassTable) {
        if (FAILED(hr)) break;
        step = u"CComModule::RegisterServer";
        hr = UpdateRegistryFromResource(c.script, true, path);
    }
    if (SUCCEEDED(hr)) {
        step = u"CoCreateInstance(CLSID_VdsService)";
        hr = vds_admin(&admin, &vdsCookie);
    }
    for (const auto& p : kProviders) {
        if (FAILED(hr)) break;
        step = p.step;
        std::u16string name = load_string(p.nameId);
        std::u16string version = kZarvoProviderVersion;
        admin->UnregisterProvider(*p.providerId);  // a registration left by an earlier install
        hr = admin->RegisterProvider(*p.providerId, *p.clsid, name.data(), VDS_PT_HARDWARE, nullptr, version.data(),
                                     *p.versionId);
    }
    if (FAILED(hr)) {
        ReportStepFailure(step, hr);
    } else {
        const WCHAR* inserts[] = {kZarvoProviderVersion};
        LogEvent(res::MSG_PROVIDER_INSTALLED, WORD{1}, inserts);
    }
    if (admin) admin->Release();
    if (vdsCookie) CoRevokeClassObject(vdsCookie);
    CoUninitialize();
    return hr;
}

HRESULT CServiceModule::UnregisterServer() {
    const WCHAR* step = u"CoInitializeEx";
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IVdsAdmin* admin = nullptr;
    DWORD vdsCookie = 0;
    if (SUCCEEDED(hr)) {
        step = u"CoCreateInstance(CLSID_VdsService)";
        hr = vds_admin(&admin, &vdsCookie);
    }
    if (SUCCEEDED(hr)) {
        for (const auto& p : kProviders) admin->UnregisterProvider(*p.providerId);
        admin->Release();
        const std::u16string path = ModulePath();
        UpdateRegistryFromResource(IDR_APPID, false, path);
        Uninstall();
        for (const auto& c : kClassTable) UpdateRegistryFromResource(c.script, false, path);
    }
    if (vdsCookie) CoRevokeClassObject(vdsCookie);
    if (FAILED(hr)) ReportStepFailure(step, hr);
    else LogEvent(res::MSG_PROVIDER_UNINSTALLED, WORD{0}, static_cast<const WCHAR* const*>(nullptr));
    CoUninitialize();
    return hr;
}

void CServiceModule::SetServiceStatus(DWORD state) {
    m_status.dwCurrentState = state;
    ::SetServiceStatus(m_hServiceStatus, &m_status);
}

void CServiceModule::Run() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    TRACE_ASSERT(SUCCEEDED(hr));
    m_dwThreadID = GetCurrentThreadId();
    try {
        SECURITY_DESCRIPTOR sd{};
        PACL acl = nullptr;
        PSID administrators = nullptr, localSystem = nullptr, backupOperators = nullptr;
        DWORD error = BuildComSecurityDescriptor(1, &sd, &acl, &administrators, &localSystem, &backupOperators);
        if (!error && !IsValidSecurityDescriptor(&sd)) error = ERROR_INVALID_SECURITY_DESCR;
        if (!error)
            hr = CoInitializeSecurity(&sd, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_SECURE_REFS | EOAC_NO_CUSTOM_MARSHAL,
                                      nullptr);
        if (!error) {
            CoTaskMemFree(acl);
            FreeSid(administrators);
            FreeSid(localSystem);
            FreeSid(backupOperators);
        }
        if (error || FAILED(hr)) {
            LogEvent(u"Failed to initialize the security descriptor");
            // A start that fails is a failure the service manager shows.
            m_status.dwWin32ExitCode = error ? error : ERROR_SERVICE_SPECIFIC_ERROR;
            m_status.dwServiceSpecificExitCode = error ? 0 : static_cast<DWORD>(hr);
            CoUninitialize();
            return;
        }

        char errorText[256] = {};
        if (!kx_startup(errorText, sizeof errorText))
            LogEvent(u"Failed to start Varnik API Server %s", std::string(errorText));

        for (size_t i = 0; i < std::size(kClassTable); ++i) {
            IUnknown* object = nullptr;
            hr = class_object(*kClassTable[i].clsid, &object);
            if (SUCCEEDED(hr))
                hr = CoRegisterClassObject(*kClassTable[i].clsid, object, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                           REGCLS_MULTIPLEUSE, &m_classCookies[i]);
            if (object) object->Release();
            if (FAILED(hr)) {
                LogEvent(u"Failed to register the class objects");
                for (DWORD& cookie : m_classCookies)
                    if (cookie) CoRevokeClassObject(std::exchange(cookie, 0));
                m_status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
                m_status.dwServiceSpecificExitCode = static_cast<DWORD>(hr);
                CoUninitialize();
                return;
            }
        }

        const UINT_PTR timer = SetTimer(nullptr, 0, kIdleTickMs, IdleTimerProc);
        {
            // The disk-management side: the providers are loaded for the first
            // vdsctl client and held until the service stops. The server goes
            // first (it waits for running commands), then the providers.
            vdscmd::HeldHost providers;
            vdscmd::CommandServer commands(
                vdscmd::wire::SocketPath(), *this,
                [&providers](const vdscmd::wire::Command& command, vdscmd::CommandOutput& output,
                             const std::atomic<bool>& stopping) { return providers.Run(command, output, stopping); });
            if (m_bService) {
                LogEvent(res::MSG_SERVICE_STARTED, WORD{0}, static_cast<const WCHAR* const*>(nullptr));
                SetServiceStatus(SERVICE_RUNNING);
            }
            ReportUnloadableStandInFiles(*this);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
            KillTimer(nullptr, timer);
        }
        for (DWORD& cookie : m_classCookies)
            if (cookie) CoRevokeClassObject(std::exchange(cookie, 0));
        CoResumeClassObjects();
    } catch (...) {
        trace_printf("Unexpected exception in function: %s.", "CServiceModule::Run");
    }
    SetServiceStatus(SERVICE_STOPPED);
    LogEvent(res::MSG_SERVICE_STOPPED, WORD{0}, static_cast<const WCHAR* const*>(nullptr));
    CoUninitialize();
}

bool CServiceModule::StopIfStillIdle() {
    m_suspended = true;
    CoSuspendClassObjects();
    if (m_nLockCnt.load() == 0) return true;
    CoResumeClassObjects();
    m_suspended = false;
    return false;
}

HRESULT CServiceModule::Enter() {
    // Locked before the check: an idle stop that suspends first then sees the count.
    Lock();
    if (!m_suspended.load()) return S_OK;
    Unlock();
    return CO_E_SERVER_STOPPING;
}

void CServiceModule::IdleTick() {
    const LONG current = m_nLockCnt.load();
    if (m_lastIdleCount == 0 && current == 0 && StopIfStillIdle()) {
        trace_printf("Stopping the service after it was idle for %d seconds", static_cast<int>(kIdleTickMs / 1000));
        LogEvent(res::MSG_SERVICE_IDLE_STOP, WORD{0}, static_cast<const WCHAR* const*>(nullptr));
        SetServiceStatus(SERVICE_STOP_PENDING);
        PostThreadMessageW(m_dwThreadID, WM_QUIT, 0, 0);
    }
    m_lastIdleCount = current;
}

LONG CServiceModule::Lock() { return ++m_nLockCnt; }

LONG CServiceModule::Unlock() {
    const LONG count = --m_nLockCnt;
    if (count == 0 && !m_bService && m_dwThreadID && StopIfStillIdle())
        PostThreadMessageW(m_dwThreadID, WM_QUIT, 0, 0);
    return count;
}

void CServiceModule::ServiceMain(DWORD, LPWSTR*) {
    CServiceModule& m = _Module();
    m.m_status.dwCurrentState = SERVICE_START_PENDING;
    m.m_hServiceStatus = RegisterServiceCtrlHandlerW(m.m_szServiceName.c_str(), ServiceHandler);
    if (!m.m_hServiceStatus) {
        m.LogEvent(u"Handler not installed");
        return;
    }
    m.m_status.dwWin32ExitCode = 0;
    m.m_status.dwCheckPoint = 0;
    m.m_status.dwWaitHint = 0;
    m.SetServiceStatus(SERVICE_START_PENDING);
    m.Run();
    m.SetServiceStatus(SERVICE_STOPPED);
}

void CServiceModule::ServiceHandler(DWORD control) {
    CServiceModule& m = _Module();
    switch (control) {
    case SERVICE_CONTROL_STOP:
        m.SetServiceStatus(SERVICE_STOP_PENDING);
        PostThreadMessageW(m.m_dwThreadID, WM_QUIT, 0, 0);
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SHUTDOWN:
        break;
    default:
        m.LogEvent(u"Bad service request");
    }
}
