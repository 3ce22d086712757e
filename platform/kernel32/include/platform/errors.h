#pragma once
// HRESULT, Win32 and Windows Sockets error values the system uses, and the
// per-thread last-error slot.
#include <platform/types.h>

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr int FACILITY_NULL = 0;
constexpr int FACILITY_RPC = 1;
constexpr int FACILITY_DISPATCH = 2;
constexpr int FACILITY_STORAGE = 3;
constexpr int FACILITY_ITF = 4;
constexpr int FACILITY_WIN32 = 7;
constexpr int FACILITY_WINDOWS = 8;
constexpr int SEVERITY_SUCCESS = 0;
constexpr int SEVERITY_ERROR = 1;

constexpr HRESULT MAKE_HRESULT(unsigned sev, unsigned fac, unsigned code) {
    return static_cast<HRESULT>((static_cast<uint32_t>(sev) << 31) | (static_cast<uint32_t>(fac) << 16) |
                                static_cast<uint32_t>(code));
}
constexpr HRESULT HRESULT_FROM_WIN32(uint32_t x) {
    return static_cast<HRESULT>(x) <= 0 ? static_cast<HRESULT>(x)
                                        : static_cast<HRESULT>((x & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}
constexpr uint32_t HRESULT_CODE(HRESULT hr) { return static_cast<uint32_t>(hr) & 0xFFFFu; }
constexpr uint32_t HRESULT_FACILITY(HRESULT hr) { return (static_cast<uint32_t>(hr) >> 16) & 0x1FFFu; }
constexpr uint32_t HRESULT_SEVERITY(HRESULT hr) { return (static_cast<uint32_t>(hr) >> 31) & 1u; }

constexpr HRESULT hr_of(uint32_t v) { return static_cast<HRESULT>(v); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = hr_of(0x80004001);
constexpr HRESULT E_NOINTERFACE = hr_of(0x80004002);
constexpr HRESULT E_POINTER = hr_of(0x80004003);
constexpr HRESULT E_ABORT = hr_of(0x80004004);
constexpr HRESULT E_FAIL = hr_of(0x80004005);
constexpr HRESULT E_UNEXPECTED = hr_of(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = hr_of(0x80070005);
constexpr HRESULT E_HANDLE = hr_of(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = hr_of(0x8007000E);
constexpr HRESULT E_INVALIDARG = hr_of(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = hr_of(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hr_of(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = hr_of(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = hr_of(0x800401F0);
constexpr HRESULT CO_E_OBJNOTREG = hr_of(0x800401FB);
constexpr HRESULT CO_E_OBJISREG = hr_of(0x800401FC);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = hr_of(0x80080005);
constexpr HRESULT RPC_E_CHANGED_MODE = hr_of(0x80010106);
constexpr HRESULT RPC_E_DISCONNECTED = hr_of(0x80010108);
constexpr HRESULT RPC_E_TOO_LATE = hr_of(0x80010119);
constexpr HRESULT RPC_E_TIMEOUT = hr_of(0x8001011F);
constexpr HRESULT DISP_E_BADVARTYPE = hr_of(0x80020008);
constexpr HRESULT DISP_E_BADINDEX = hr_of(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = hr_of(0x8002000D);
constexpr HRESULT WBEM_E_FAILED = hr_of(0x80041001);
constexpr HRESULT WBEM_E_NOT_FOUND = hr_of(0x80041002);
constexpr HRESULT WBEM_E_INVALID_CLASS = hr_of(0x80041010);
constexpr HRESULT WBEM_S_NO_MORE_DATA = hr_of(0x00040005);

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD NO_ERROR = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BROKEN_PIPE = 109;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_NOACCESS = 998;
constexpr DWORD ERROR_INVALID_FLAGS = 1004;
constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_BADKEY = 1010;
constexpr DWORD ERROR_CANTOPEN = 1011;
constexpr DWORD ERROR_CANTREAD = 1012;
constexpr DWORD ERROR_CANTWRITE = 1013;
constexpr DWORD ERROR_KEY_DELETED = 1018;
constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
constexpr DWORD ERROR_SERVICE_DISABLED = 1058;
constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr DWORD ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062;
constexpr DWORD ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
constexpr DWORD ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
constexpr DWORD ERROR_SERVICE_EXISTS = 1073;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_UNKNOWN_REVISION = 1305;
constexpr DWORD ERROR_REVISION_MISMATCH = 1306;
constexpr DWORD ERROR_INVALID_ACL = 1336;
constexpr DWORD ERROR_INVALID_SID = 1337;
constexpr DWORD ERROR_INVALID_SECURITY_DESCR = 1338;
constexpr DWORD ERROR_SERVICE_SPECIFIC_ERROR = 1066;
constexpr DWORD ERROR_PROCESS_ABORTED = 1067;
constexpr DWORD ERROR_ALLOTTED_SPACE_EXCEEDED = 1344;
constexpr DWORD RPC_S_SERVER_TOO_BUSY = 1723;
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// Windows Sockets numbers: they reach reasons, error numbers and events.
constexpr DWORD WSAEINTR = 10004;
constexpr DWORD WSAEBADF = 10009;
constexpr DWORD WSAEACCES = 10013;
constexpr DWORD WSAEFAULT = 10014;
constexpr DWORD WSAEINVAL = 10022;
constexpr DWORD WSAEMFILE = 10024;
constexpr DWORD WSAEWOULDBLOCK = 10035;
constexpr DWORD WSAEINPROGRESS = 10036;
constexpr DWORD WSAEALREADY = 10037;
constexpr DWORD WSAENOTSOCK = 10038;
constexpr DWORD WSAEMSGSIZE = 10040;
constexpr DWORD WSAEAFNOSUPPORT = 10047;
constexpr DWORD WSAEADDRINUSE = 10048;
constexpr DWORD WSAEADDRNOTAVAIL = 10049;
constexpr DWORD WSAENETDOWN = 10050;
constexpr DWORD WSAENETUNREACH = 10051;
constexpr DWORD WSAENETRESET = 10052;
constexpr DWORD WSAECONNABORTED = 10053;
constexpr DWORD WSAECONNRESET = 10054;
constexpr DWORD WSAENOBUFS = 10055;
constexpr DWORD WSAEISCONN = 10056;
constexpr DWORD WSAENOTCONN = 10057;
constexpr DWORD WSAESHUTDOWN = 10058;
constexpr DWORD WSAETIMEDOUT = 10060;
constexpr DWORD WSAECONNREFUSED = 10061;
constexpr DWORD WSAEHOSTDOWN = 10064;
constexpr DWORD WSAEHOSTUNREACH = 10065;
constexpr DWORD WSAVERNOTSUPPORTED = 10092;
constexpr DWORD WSANOTINITIALISED = 10093;
constexpr DWORD WSASYSCALLFAILURE = 10107;
constexpr DWORD WSAHOST_NOT_FOUND = 11001;
constexpr DWORD WSATRY_AGAIN = 11002;
constexpr DWORD WSANO_RECOVERY = 11003;
constexpr DWORD WSANO_DATA = 11004;

// The secure channel failed (handshake or TLS layer error).
constexpr DWORD ERROR_WINHTTP_SECURE_CHANNEL_ERROR = 12157;

DWORD GetLastError();
void SetLastError(DWORD code);
