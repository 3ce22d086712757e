#pragma once
// CServiceModule: the program's module object. It keeps the class table and
// the module lock count, installs and removes the service, registers the
// classes and the two providers, and runs the COM server with its idle stop.
#include <hostlib/event_log.h>
#include <platform/winsvc.h>
#include <vds/module_lock.h>
#include <vdscmd/server.h>

#include <atomic>
#include <string>

class CServiceModule final : public CEventLogReporter, public ModuleLockCount, public vdscmd::ServiceGate {
public:
    static constexpr UINT kIdleTickMs = 30000;

    // Loads the names from the string table and resets the status record.
    void Init();
    // The program's entry: the switch of the command line, else the service
    // manager, else a plain COM server. Returns the exit code.
    int WinMain(const std::u16string& commandLine);

    HRESULT RegisterServer();
    HRESULT UnregisterServer();
    bool Install();
    bool Uninstall();
    void Run();

    LONG Lock() override;
    // At 0 outside the service manager the server ends (a plain COM server
    // lives as long as its objects).
    LONG Unlock() override;
    LONG GetLockCount() const { return m_nLockCnt.load(); }

    // A vdsctl client holds the module lock while its command runs; refused
    // while an idle stop is under way.
    HRESULT Enter() override;
    void Leave() override { Unlock(); }

    const WCHAR* EventSourceName() const override { return m_szServiceName.c_str(); }
    void SetServiceStatus(DWORD state);
    void IdleTick();

    static void ServiceMain(DWORD argc, LPWSTR* argv);
    static void ServiceHandler(DWORD control);

    std::u16string m_szServiceName;
    std::u16string m_szDisplayName;
    std::u16string m_szDescription;
    SERVICE_STATUS_HANDLE m_hServiceStatus = nullptr;
    SERVICE_STATUS m_status{};
    std::atomic<DWORD> m_dwThreadID{0};
    bool m_bService = true;

private:
    // Ends the message loop unless an activation arrived meanwhile: new
    // activations are refused first, so none can reach a process that exits.
    bool StopIfStillIdle();
    void ReportStepFailure(const WCHAR* step, HRESULT hr);
    static std::u16string ModulePath();

    std::atomic<LONG> m_nLockCnt{0};
    std::atomic<bool> m_suspended{false};
    LONG m_lastIdleCount = 1;
    DWORD m_classCookies[3] = {};
};

// The program's module object.
CServiceModule& _Module();
