#pragma once
// The service control manager stand-in. Service records live in the registry
// store under HKLM\SYSTEM\CurrentControlSet\Services\<name> as the real
// manager keeps them (Type, Start, ErrorControl, ImagePath, DependOnService,
// DisplayName, ObjectName, Description). A service process is one that the
// `scm` tool started: StartServiceCtrlDispatcher fails with 1063 anywhere else.
#include <platform/errors.h>
#include <platform/types.h>

using SC_HANDLE = struct SC_HANDLE__*;
using SERVICE_STATUS_HANDLE = struct SERVICE_STATUS_HANDLE__*;

constexpr DWORD SC_MANAGER_ALL_ACCESS = 0xF003F;
constexpr DWORD SERVICE_ALL_ACCESS = 0xF01FF;
constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
constexpr DWORD SERVICE_CHANGE_CONFIG = 0x0002;
constexpr DWORD SERVICE_STOP = 0x0020;
constexpr DWORD SERVICE_START = 0x0010;
constexpr DWORD DELETE = 0x00010000;

constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
constexpr DWORD SERVICE_DEMAND_START = 3;
constexpr DWORD SERVICE_ERROR_NORMAL = 1;
constexpr DWORD SERVICE_NO_CHANGE = 0xFFFFFFFF;

constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;
constexpr DWORD SERVICE_ACCEPT_STOP = 1;

constexpr DWORD SERVICE_CONTROL_STOP = 1;
constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;

constexpr DWORD SERVICE_CONFIG_DESCRIPTION = 1;


inline constexpr const WCHAR* kServicesKey = u"SYSTEM\\CurrentControlSet\\Services";

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
static_assert(sizeof(SERVICE_STATUS) == 28);

struct SERVICE_DESCRIPTIONW {
    LPWSTR lpDescription;
};

using LPSERVICE_MAIN_FUNCTIONW = void (*)(DWORD argc, LPWSTR* argv);
using LPHANDLER_FUNCTION = void (*)(DWORD control);

struct SERVICE_TABLE_ENTRYW {
    LPWSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONW lpServiceProc;
};

SC_HANDLE OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access);
SC_HANDLE CreateServiceW(SC_HANDLE scm, LPCWSTR name, LPCWSTR displayName, DWORD access, DWORD serviceType,
                         DWORD startType, DWORD errorControl, LPCWSTR binaryPath, LPCWSTR loadOrderGroup, LPDWORD tagId,
                         LPCWSTR dependencies, LPCWSTR account, LPCWSTR password);
// ERROR_SERVICE_DOES_NOT_EXIST when the record has no image path; the
// registry's error (ERROR_BADDB, ...) when the records cannot be read.
SC_HANDLE OpenServiceW(SC_HANDLE scm, LPCWSTR name, DWORD access);
BOOL ChangeServiceConfigW(SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
                          LPCWSTR binaryPath, LPCWSTR loadOrderGroup, LPDWORD tagId, LPCWSTR dependencies,
                          LPCWSTR account, LPCWSTR password, LPCWSTR displayName);
BOOL ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, LPVOID info);
// Removes the service's key with everything below it.
BOOL DeleteService(SC_HANDLE service);
// ERROR_SERVICE_NOT_ACTIVE when the service does not run.
BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status);
// A service process that died without reporting SERVICE_STOPPED shows as
// stopped with ERROR_PROCESS_ABORTED (unless it reported another exit code).
BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);
// Runs the image without switches as a service process (as `scm start` does).
BOOL StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv);
BOOL CloseServiceHandle(SC_HANDLE handle);

// 1063 (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) in a process `scm` did not start.
BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(LPCWSTR name, LPHANDLER_FUNCTION handler);
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status);
