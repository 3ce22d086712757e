#include <hostlib/mpio_mgmt.h>

#include <hostlib/trace.h>
#include <hostlib/utilities.h>

#include <platform/apartment.h>
#include <platform/registry.h>

#include <exception>

#include "wmi_values.h"

using namespace hostlib::mpio;

namespace {

constexpr HRESULT kVdsNotSupported = hr_of(0x80042400);  // VDS_E_NOT_SUPPORTED
constexpr HRESULT kInvalidNamespace = WBEM_E_INVALID_NAMESPACE;
constexpr const WCHAR* kNamespace = u"root\\wmi";
constexpr const WCHAR* kDsmMethodsClass = u"KVXDSM_WMI_METHODS";
constexpr const WCHAR* kPathIdArgument = u"DsmPathId";
constexpr size_t kObjectPathChars = 260;

// The DSM display names and supported-device entries that count as installed.
constexpr std::u16string_view kDsmNames[] = {u"Korvex Multi-Path Device Specific Module", u"Microsoft iSCSI DSM"};
constexpr std::u16string_view kSupportedDevices[] = {u"KORVEX  LUN", u"MSFT2005iSCSIBusType_0x9", u"QTX     LUN"};
constexpr const WCHAR* kMpdevKey = u"SYSTEM\\CurrentControlSet\\Control\\MPDEV";

unsigned long long u64(ULONGLONG value) { return value; }

// The MPIOSupportedDeviceList value, with two extra NULs so a value stored
// without its terminators still ends; empty when it cannot be read.
std::vector<WCHAR> ReadSupportedDeviceList() {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMpdevKey, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) {
        trace_printf("CMpioMgmt::IsLoaded, ERROR: RegOpenKeyEx Error: %d", status);
        return {};
    }
    std::vector<WCHAR> list;
    DWORD type = REG_NONE;
    DWORD size = 0;
    status = RegQueryValueExW(key, u"MPIOSupportedDeviceList", nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        try {
            list.assign(size / sizeof(WCHAR) + 2, u'\0');
        } catch (const std::bad_alloc&) {
            trace_printf("CMpioMgmt::IsLoaded, ERROR: CoTaskMemAlloc failed: %d", ERROR_NOT_ENOUGH_MEMORY);
            RegCloseKey(key);
            return {};
        }
        status = RegQueryValueExW(key, u"MPIOSupportedDeviceList", nullptr, &type,
                                  reinterpret_cast<BYTE*>(list.data()), &size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        trace_printf("CMpioMgmt::IsLoaded, ERROR: RegQueryValueEx Error: %d", status);
        return {};
    }
    return list;
}

}  // namespace

// The locator and the namespace connection of one operation.
class WmiConnection {
public:
    WmiConnection() = default;
    WmiConnection(const WmiConnection&) = delete;
    WmiConnection& operator=(const WmiConnection&) = delete;

    std::unique_ptr<IWbemLocator, ComRelease> locator;
    std::unique_ptr<IWbemServices, ComRelease> services;
};

ULONG CMpioMgmt::InitializeWMI(WmiConnection& connection) {
    IWbemLocator* locator = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator));
    if (FAILED(hr) || !locator) {
        trace_printf("CMpioMgmt::InitializeWMI, ERROR: CoCreateInstance(WbemLocator) sc=%lx", trace_code(hr));
        return MPIO_WMI_INIT_FAILED;
    }
    connection.locator.reset(locator);

    IWbemServices* services = nullptr;
    hr = locator->ConnectServer(Bstr(kNamespace), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
    if (FAILED(hr) || !services) {
        trace_printf("CMpioMgmt::InitializeWMI, IWbemLocator::ConnectServer sc=%lx", trace_code(hr));
        trace_printf("CMpioMgmt::InitializeWMI, Namespace: %s (%lx)", narrow(kNamespace).c_str(),
                     trace_code(kInvalidNamespace));
        connection.locator.reset();
        return MPIO_WMI_INIT_FAILED;
    }
    connection.services.reset(services);

    IClientSecurity* security = nullptr;
    hr = services->QueryInterface(IID_PPV_ARGS(&security));
    if (SUCCEEDED(hr) && security) {
        hr = security->SetBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
        security->Release();
    }
    if (FAILED(hr)) trace_printf("CMpioMgmt::InitializeWMI, IClientSecurity::SetBlanket sc=%lx", trace_code(hr));
    return MPIO_STATUS_SUCCESS;
}

void CMpioMgmt::UninitializeWMI(WmiConnection& connection) {
    connection.services.reset();
    connection.locator.reset();
}

template <typename Steps>
HRESULT CMpioMgmt::RunOperation(const char* name, Steps&& steps) {
    WmiConnection connection;
    const ULONG opened = InitializeWMI(connection);
    if (opened != MPIO_STATUS_SUCCESS) {
        if (std::string_view(name) == "CMpioMgmt::MpioGetDsmId")
            trace_printf("CMpioMgmt::MpioGetDsmId, ERROR: InitializeWMI FAILED ret=%d.", opened);
        else
            trace_printf("%s, ERROR: Error initializing WMI (%d). ", name, opened);
        trace_printf("%s(): returning %08lX", name, trace_code(E_FAIL));
        return E_FAIL;
    }
    HRESULT hr = S_OK;
    BOOL installed = FALSE;
    const ULONG status = IsInstalled(connection.services.get(), &installed);
    if (status != MPIO_STATUS_SUCCESS || !installed) {
        trace_printf("%s, WARN: Either MPIO or DSM is not installed.", name);
        hr = kVdsNotSupported;
    } else {
        try {
            hr = steps(connection.services.get());
        } catch (const std::exception&) {
            trace_printf("%s, ERROR: caught exception", name);
            hr = E_FAIL;
        }
    }
    UninitializeWMI(connection);
    trace_printf("%s(): returning %08lX", name, trace_code(hr));
    return hr;
}

ULONG CMpioMgmt::IsInstalled(IWbemServices* services, BOOL* installed) {
    if (!installed) {
        trace_printf("CMpioMgmt::IsInstalled, DSM_INVALID_PARAM_ERROR");
        return DSM_INVALID_PARAM_ERROR;
    }
    MPIO_CONTROLLER_CONFIGURATION configuration{};
    ULONG count = 0;
    const ULONG status = ParseMPIOControllerConfig(services, configuration, count);
    const bool mpio = status == MPIO_STATUS_SUCCESS;
    trace_printf(mpio ? "CMpioMgmt::IsInstalled, MPIO driver is installed"
                      : "CMpioMgmt::IsInstalled, Failed ParseMPIOControllerConfig()");
    const bool dsm = IsLoaded(configuration, mpio ? count : 0);
    if (dsm) {
        trace_printf("CMpioMgmt::IsInstalled, DSM driver is installed\n");
    } else {
        trace_printf("CMpioMgmt::IsInstalled, DSM is not registered with MPIO");
        trace_printf("CMpioMgmt::IsInstalled, The system doesn't have a Korvex Lun; DSM is not accessible.");
    }
    *installed = mpio && dsm ? TRUE : FALSE;
    return status;
}

// Takes the controller configuration the installed test has just read rather
// than asking WMI for it a second time.
bool CMpioMgmt::IsLoaded(const MPIO_CONTROLLER_CONFIGURATION& configuration, ULONG count) {
    bool loaded = false;
    for (ULONG i = 0; i < std::min<ULONG>(count, kMpioMaxControllers) && !loaded; ++i) {
        const std::u16string_view dsm = configuration.ControllerInfo[i].AssociatedDsm;
        for (std::u16string_view name : kDsmNames) loaded = loaded || dsm.find(name) != std::u16string_view::npos;
    }
    if (!loaded) {
        trace_printf("CMpioMgmt::IsLoaded, WARNING: Couldn't find DSM name in MPIO controller information");
        const std::vector<WCHAR> list = ReadSupportedDeviceList();
        for (std::u16string_view device : kSupportedDevices)
            loaded = loaded || (!list.empty() && FindInMultiString(list.data(), device) != nullptr);
    }
    trace_printf("CMpioMgmt::IsLoaded, MPIO driver is loaded, DSM driver is %sloaded", loaded ? "" : "not ");
    return loaded;
}

HRESULT CMpioMgmt::MpioIsInstalled(BOOL* installed) {
    if (!installed) return E_POINTER;
    *installed = FALSE;
    const HRESULT hr = RunOperation("CMpioMgmt::MpioIsInstalled", [](IWbemServices*) { return S_OK; });
    *installed = hr == S_OK ? TRUE : FALSE;
    trace_printf("CMpioMgmt::MpioIsInstalled, installed=%d", *installed);
    return hr;
}

ULONG CMpioMgmt::GetDsmUniqueId(IWbemServices* services, ULONGLONG& dsmUniqueId) {
    ULONGLONG id = 0;
    const ULONG status = ParseDsmUniqueId(services, id);
    if (status == MPIO_STATUS_SUCCESS) dsmUniqueId = id;
    return status;
}

HRESULT CMpioMgmt::MpioGetDsmId(ULONGLONG* dsmId) {
    if (!dsmId) return E_POINTER;
    return RunOperation("CMpioMgmt::MpioGetDsmId", [&](IWbemServices* services) {
        ULONGLONG id = 0;
        const ULONG status = GetDsmUniqueId(services, id);
        if (status != MPIO_STATUS_SUCCESS) {
            trace_printf("CMpioMgmt::MpioGetDsmId, ERROR: GetDSMUniqueId FAILED status=%x", status);
            return E_FAIL;
        }
        *dsmId = id;
        if (id == 0) {
            trace_printf("CMpioMgmt::MpioGetDsmId, DSM Unique ID is NULL. ");
            return E_FAIL;
        }
        trace_printf("CMpioMgmt::MpioGetDsmId, DsmId=%llx", u64(id));
        return S_OK;
    });
}

ULONG CMpioMgmt::GetDiskInfo(IWbemServices* services, MPIO_DRIVE_INFO* drives, ULONG room, ULONG& numberDrives) {
    return ForEachInstance(services, u"MPIO_DISK_INFO", [&](IWbemClassObject* instance) {
        return ParseMpioDiskInfo(instance, drives, room, numberDrives);
    });
}

ULONG CMpioMgmt::GetNumberOfLUNs(IWbemServices* services, ULONG& numberLUNs) {
    numberLUNs = 1;
    MPIO_DRIVE_INFO drive[1] = {};
    ULONG count = 0;
    const ULONG status = GetDiskInfo(services, drive, 1, count);
    if ((status == MPIO_STATUS_SUCCESS || status == MPIO_MORE_DRIVES) && count > 1) numberLUNs = count;
    return status;
}

// The lists grow with what WMI reports, so more instances than MPIO disks
// cannot overrun them.
ULONG CMpioMgmt::GetMpioDescr(IWbemServices* services, std::vector<MPIO_DESCRIPTOR>& descriptors,
                              std::vector<MPIO_INSTANCE_NAME>* names) {
    descriptors.clear();
    if (names) names->clear();
    try {
        const ULONG status = ForEachInstance(services, u"MPIO_GET_DESCRIPTOR", [&](IWbemClassObject* instance) {
            descriptors.emplace_back();
            MPIO_INSTANCE_NAME* name = names ? &names->emplace_back() : nullptr;
            return ParseMpioDescr(instance, descriptors.back(), name);
        });
        if (status != MPIO_STATUS_SUCCESS) {
            descriptors.clear();
            if (names) names->clear();
        }
        return status;
    } catch (const std::bad_alloc&) {
        descriptors.clear();
        if (names) names->clear();
        return MPIO_ALLOC_FAILED;
    }
}

HRESULT CMpioMgmt::GetPathId(IWbemServices* services, ULONG portNumber, ULONGLONG* pathId, ULONG* pathStatus) {
    ULONG numberLUNs = 1;
    const ULONG countStatus = GetNumberOfLUNs(services, numberLUNs);
    trace_printf("CMpioMgmt::GetPathId, numberLUNs=%x", numberLUNs);
    // The lists grow with the instances read: the disk count comes from WMI
    // and must not size an allocation.
    std::vector<MPIO_DESCRIPTOR> descriptors;
    std::vector<MPIO_INSTANCE_NAME> names;
    const ULONG status = GetMpioDescr(services, descriptors, &names);
    if (status != MPIO_STATUS_SUCCESS) {
        trace_printf("CMpioMgmt::GetPathId, GetMpioDescr status=%x", status);
        return E_FAIL;
    }
    for (size_t d = 0; d < descriptors.size(); ++d) {
        const MPIO_DESCRIPTOR& descriptor = descriptors[d];
        trace_printf("CMpioMgmt::GetPathId, instanceName = %s", narrow(names[d].Text).c_str());
        const ULONG entries = std::min<ULONG>(descriptor.NumberPdos, kMpioMaxPdos);
        for (ULONG p = 0; p < entries; ++p) {
            const MPIO_PDO_INFO& pdo = descriptor.PdoInformation[p];
            trace_printf("CMpioMgmt::GetPathId,  %s %x:%x:%x:%x    %llx", narrow(descriptor.DeviceName).c_str(),
                         pdo.PortNumber, pdo.ScsiPathId, pdo.TargetId, pdo.Lun, u64(pdo.PathIdentifier));
            if (pdo.PortNumber != portNumber) continue;
            // Every entry is looked at: the last match wins.
            *pathId = pdo.PathIdentifier;
            *pathStatus = pdo.PathStatus;
            trace_printf("CMpioMgmt::GetPathId, portNumber=%x PathId=%llx PathStatus=%x", portNumber,
                         u64(*pathId), *pathStatus);
        }
    }
    trace_printf("CMpioMgmt::GetPathId, Number of MPIO LUNs: %d", static_cast<int>(descriptors.size()));
    trace_printf("CMpioMgmt::GetPathId, IN: PortNumber=%x OUT: PathId=%llx PathStatus=%x", portNumber, u64(*pathId),
                 *pathStatus);
    return static_cast<HRESULT>(countStatus);
}

HRESULT CMpioMgmt::MpioGetPathId(ULONG portNumber, ULONGLONG* pathId) {
    if (!pathId) return E_POINTER;
    return RunOperation("CMpioMgmt::MpioGetPathId", [&](IWbemServices* services) {
        const HRESULT hr = GetPathId(services, portNumber, pathId, &m_pathStatus);
        if (FAILED(hr)) trace_printf("CMpioMgmt::MpioGetPathId, ERROR: GetPathId hr=%lx", trace_code(hr));
        return FAILED(hr) ? E_FAIL : hr;
    });
}

HRESULT CMpioMgmt::MpioGetPathStatus(ULONG* pathStatus) {
    if (!pathStatus) return E_POINTER;
    *pathStatus = m_pathStatus;
    return S_OK;
}

LONG CMpioMgmt::CallArgument(IWbemServices* services, const WCHAR* methodName, const WCHAR* argumentName, ULONG value) {
    trace_printf("CMpioMgmt::CallArgument, %s  %s: 0x%x", narrow(methodName).c_str(), narrow(argumentName).c_str(),
                 value);
    return CallMethod(services, kDsmMethodsClass, methodName, argumentName, value);
}

LONG CMpioMgmt::CallMethod(IWbemServices* services, const WCHAR* className, const WCHAR* methodName,
                           const WCHAR* argumentName, ULONG value) {
    std::unique_ptr<IEnumWbemClassObject, ComRelease> enumerator;
    if (FAILED(EnumerateClass(services, className, enumerator))) return DSM_METHOD_ENUM_FAILED;
    HRESULT hr = S_OK;
    const ObjectRef instance = NextInstance(enumerator.get(), hr);
    if (!instance) {
        trace_printf("CMpioMgmt::CallMethod, IEnumWbemClassObject::Next sc=%lx", trace_code(hr));
        return hr == kWmiClassNotFound ? MPIO_WMI_NOT_FOUND : DSM_CAUGHT_EXCEPTION;
    }
    Variant instanceName;
    if (!GetProperty(instance.get(), u"InstanceName", instanceName) || instanceName.v.vt != VT_BSTR) {
        trace_printf("CMpioMgmt::CallMethod, IWbemClassObject::Get(InstanceName) failed");
        return DSM_CAUGHT_EXCEPTION;
    }
    // Backslashes and quotes are escaped inside the quoted key of an object path.
    std::u16string key;
    for (const WCHAR* c = instanceName.v.bstrVal; c && *c; ++c) {
        if (*c == u'\\' || *c == u'"') key += u'\\';
        key += *c;
    }
    const std::u16string path = std::u16string(className) + u".InstanceName=\"" + key + u"\"";
    if (path.size() >= kObjectPathChars) {
        trace_printf("CMpioMgmt::CallMethod, ERROR: object path of %u characters", static_cast<unsigned>(path.size()));
        return DSM_CAUGHT_EXCEPTION;
    }

    IWbemClassObject* rawClass = nullptr;
    hr = services->GetObject(Bstr(className), 0, nullptr, &rawClass, nullptr);
    const ObjectRef classObject(rawClass);
    if (FAILED(hr) || !classObject) {
        trace_printf("CMpioMgmt::CallMethod, IWbemServices::GetObject sc=%lx", trace_code(hr));
        return DSM_CAUGHT_EXCEPTION;
    }
    IWbemClassObject* rawSignature = nullptr;
    hr = classObject->GetMethod(methodName, 0, &rawSignature, nullptr);
    const ObjectRef inSignature(rawSignature);
    if (FAILED(hr)) {
        trace_printf("CMpioMgmt::CallMethod, IWbemClassObject::GetMethod sc=%lx", trace_code(hr));
        return DSM_CAUGHT_EXCEPTION;
    }
    ObjectRef inputs;
    if (inSignature) {
        IWbemClassObject* rawInputs = nullptr;
        hr = inSignature->SpawnInstance(0, &rawInputs);
        inputs.reset(rawInputs);
        if (FAILED(hr) || !inputs) {
            trace_printf("CMpioMgmt::CallMethod, IWbemClassObject::SpawnInstance sc=%lx", trace_code(hr));
            return DSM_CAUGHT_EXCEPTION;
        }
        Variant argument;
        argument.v.vt = VT_I4;
        argument.v.lVal = static_cast<LONG>(value);
        hr = inputs->Put(argumentName, 0, &argument.v, 0);
        if (FAILED(hr)) {
            trace_printf("CMpioMgmt::CallMethod, IWbemClassObject::Put sc=%lx", trace_code(hr));
            return MPIO_WMI_ENUM_FAILED;
        }
    }

    IWbemClassObject* rawOutputs = nullptr;
    hr = services->ExecMethod(Bstr(path), Bstr(methodName), 0, nullptr, inputs.get(), &rawOutputs, nullptr);
    const ObjectRef outputs(rawOutputs);
    if (FAILED(hr)) {
        trace_printf("CMpioMgmt::CallMethod, IWbemServices::ExecMethod sc=%lx", trace_code(hr));
        return DSM_CAUGHT_EXCEPTION;
    }
    if (!outputs) {
        if (inSignature)
            trace_printf("CMpioMgmt::CallMethod, Successful %s call (void)", narrow(methodName).c_str());
        else
            trace_printf("CMpioMgmt::CallMethod, The %s method returned: NULL", narrow(methodName).c_str());
        return 0;
    }
    BSTR text = nullptr;
    if (SUCCEEDED(outputs->GetObjectText(0, &text)))
        trace_printf("CMpioMgmt::CallMethod, The %s method returned:%s", narrow(methodName).c_str(),
                     narrow(std::u16string_view(text ? text : u"", SysStringLen(text))).c_str());
    SysFreeString(text);
    Variant returnCode;
    LONG code = 0;
    if (!GetProperty(outputs.get(), u"ReturnCode", returnCode) || !AsLong(returnCode.v, code)) {
        trace_printf("CMpioMgmt::CallMethod, IWbemClassObject::Get(ReturnCode) failed");
        return MPIO_WMI_ENUM_FAILED;
    }
    return code;
}

LONG CMpioMgmt::MakeActivePath(IWbemServices* services, ULONG pathId) {
    return CallArgument(services, u"KVXDsmMakeActivePath", kPathIdArgument, pathId);
}

LONG CMpioMgmt::DisablePath(IWbemServices* services, ULONG pathId) {
    return CallArgument(services, u"KVXDsmDisablePath", kPathIdArgument, pathId);
}

LONG CMpioMgmt::MakePassivePath(IWbemServices* services, ULONG pathId) {
    return CallArgument(services, u"KVXDsmMakePassivePath", kPathIdArgument, pathId);
}

HRESULT CMpioMgmt::MpioSetPathStatus(ULONG portNumber, ULONG pathStatus) {
    trace_printf("CMpioMgmt::MpioSetPathStatus,  PortNumber=%x PathStatus=%x", portNumber, pathStatus);
    return RunOperation("CMpioMgmt::MpioSetPathStatus", [&](IWbemServices* services) -> HRESULT {
        // A port without a path passes path id 0 to the DSM.
        ULONGLONG pathId = 0;
        GetPathId(services, portNumber, &pathId, &m_pathStatus);
        const ULONG id = static_cast<ULONG>(pathId);
        LONG result = 0;
        switch (pathStatus) {
        case 0:
            result = MakeActivePath(services, id);
            if (result < 0) trace_printf("CMpioMgmt::MpioSetPathStatus, ERROR: cannot make path ACTIVE hr=%lx.", trace_code(result));
            break;
        case 1:
            result = DisablePath(services, id);
            if (result < 0) trace_printf("CMpioMgmt::MpioSetPathStatus, ERROR: cannot disable path hr=%lx.", trace_code(result));
            break;
        case 2:
            result = MakePassivePath(services, id);
            if (result < 0)
                trace_printf("CMpioMgmt::MpioSetPathStatus, ERROR: cannot make path PASSIVE hr=%lx.", trace_code(result));
            break;
        default:
            trace_printf("CMpioMgmt::MpioSetPathStatus, ERROR: invalid PathStatus %d hr=%lx.", pathStatus,
                         trace_code(E_INVALIDARG));
            return E_INVALIDARG;
        }
        return result < 0 ? E_FAIL : static_cast<HRESULT>(result);
    });
}

ULONG CMpioMgmt::GetDsmLBPolicy(IWbemServices* services, DSM_LOAD_BALANCE_POLICY& policy,
                                std::vector<MPIO_INSTANCE_NAME>* names) {
    if (names) names->clear();
    try {
        const ULONG status = ForEachInstance(services, u"DSM_QueryLBPolicy", [&](IWbemClassObject* instance) {
            MPIO_INSTANCE_NAME* name = names ? &names->emplace_back() : nullptr;
            return ParseDsmQueryLBPolicy(instance, policy, name);
        });
        if (status != MPIO_STATUS_SUCCESS && names) names->clear();
        return status;
    } catch (const std::bad_alloc&) {
        if (names) names->clear();
        return MPIO_ALLOC_FAILED;
    }
}

ULONG CMpioMgmt::SetDsmLBPolicy(IWbemServices* services, ULONGLONG pathId, BOOL primary, ULONG weight,
                                DSM_LOAD_BALANCE_POLICY& policy, std::vector<MPIO_INSTANCE_NAME>* names,
                                ULONG& instancesWritten) {
    instancesWritten = 0;
    if (names) names->clear();
    bool writeFailed = false;
    try {
        const ULONG status = ForEachInstance(services, u"DSM_QueryLBPolicy", [&](IWbemClassObject* instance) {
            MPIO_INSTANCE_NAME* name = names ? &names->emplace_back() : nullptr;
            bool changed = false;
            const ULONG read = SetDsmQueryLBPolicy(instance, pathId, primary, weight, policy, name, changed);
            if (read != MPIO_STATUS_SUCCESS || !changed) return read;
            // The change reaches the DSM only when the instance is written back.
            const HRESULT hr = services->PutInstance(instance, WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr);
            if (FAILED(hr)) {
                trace_printf("CMpioMgmt::SetDsmLBPolicy, IWbemServices::PutInstance sc=%lx", trace_code(hr));
                writeFailed = true;
            } else {
                ++instancesWritten;
            }
            return MPIO_STATUS_SUCCESS;
        });
        if (status != MPIO_STATUS_SUCCESS && names) names->clear();
        return status != MPIO_STATUS_SUCCESS ? status : writeFailed ? MPIO_WMI_WRITE_FAILED : MPIO_STATUS_SUCCESS;
    } catch (const std::bad_alloc&) {
        if (names) names->clear();
        return MPIO_ALLOC_FAILED;
    }
}

namespace {

// The traces after a policy walk, with the operation's name in each line.
// Returns whether the named path was found and fills its settings.
bool WalkPolicy(const char* operation, const DSM_LOAD_BALANCE_POLICY& policy, ULONGLONG pathId, BOOL* primaryPath,
                ULONG* pathWeight) {
    trace_printf("%s,  PathCount=%x LBPolicy=%x Version=%x", operation, policy.DSMPathCount, policy.LoadBalancePolicy,
                 policy.Version);
    const ULONG entries = std::min<ULONG>(policy.DSMPathCount, kMpioMaxDsmPaths);
    for (ULONG i = 0; i < entries; ++i) {
        const MPIO_DSM_PATH& path = policy.DSM_Paths[i];
        trace_printf("%s, PathId[%d] =%llx", operation, i, u64(path.DsmPathId));
        trace_printf("%s, PrimaryPath[%d] =%x", operation, i, path.PrimaryPath);
        trace_printf("%s, PathWeight[%d] =%x", operation, i, path.PathWeight);
        if (path.DsmPathId != pathId) continue;
        if (pathWeight) *pathWeight = path.PathWeight;
        if (primaryPath) *primaryPath = path.PrimaryPath != 0 ? TRUE : FALSE;
        trace_printf("%s, FOUND PathId=%llx", operation, u64(pathId));
        return true;
    }
    return false;
}

void FreeNames(const char* operation, std::vector<MPIO_INSTANCE_NAME>& names) {
    for (size_t i = 0; i < names.size(); ++i) trace_printf("%s, freeing instance %d", operation, static_cast<int>(i));
    names.clear();
}

}  // namespace

HRESULT CMpioMgmt::GetPathPolicy(IWbemServices* services, ULONGLONG pathId, BOOL* primaryPath, ULONG* pathWeight) {
    constexpr const char* kName = "CMpioMgmt::GetPathPolicy";
    ULONG numberLUNs = 1;
    const ULONG countStatus = GetNumberOfLUNs(services, numberLUNs);
    std::vector<MPIO_INSTANCE_NAME> names;
    DSM_LOAD_BALANCE_POLICY policy{};
    const ULONG status = GetDsmLBPolicy(services, policy, &names);
    if (status != MPIO_STATUS_SUCCESS) {
        trace_printf("CMpioMgmt::GetPathPolicy, GetDsmLBPolicy FAILED, status=%x", status);
        return E_FAIL;
    }
    if (names.empty()) {
        trace_printf("CMpioMgmt::GetPathPolicy, instanceName is NULL!");
        return E_FAIL;
    }
    trace_printf("CMpioMgmt::GetPathPolicy,  InstanceName = %s", narrow(names[0].Text).c_str());
    WalkPolicy(kName, policy, pathId, primaryPath, pathWeight);
    FreeNames(kName, names);
    return static_cast<HRESULT>(countStatus);
}

HRESULT CMpioMgmt::SetPathPolicy(IWbemServices* services, ULONGLONG pathId, BOOL primaryPath, ULONG pathWeight) {
    constexpr const char* kName = "CMpioMgmt::SetPathPolicy";
    ULONG numberLUNs = 1;
    const ULONG countStatus = GetNumberOfLUNs(services, numberLUNs);
    std::vector<MPIO_INSTANCE_NAME> names;
    DSM_LOAD_BALANCE_POLICY policy{};
    ULONG written = 0;
    const ULONG status = SetDsmLBPolicy(services, pathId, primaryPath, pathWeight, policy, &names, written);
    if (status != MPIO_STATUS_SUCCESS) {
        trace_printf("CMpioMgmt::SetPathPolicy, SetDsmLBPolicy FAILED, status=%x", status);
        return E_FAIL;
    }
    if (names.empty()) {
        trace_printf("CMpioMgmt::SetPathPolicy, instanceName is NULL!");
        return E_FAIL;
    }
    trace_printf("CMpioMgmt::SetPathPolicy,  InstanceName = %s", narrow(names[0].Text).c_str());
    WalkPolicy(kName, policy, pathId, nullptr, nullptr);
    FreeNames(kName, names);
    if (written == 0) {
        trace_printf("CMpioMgmt::SetPathPolicy, ERROR: no load-balance policy lists PathId=%llx", u64(pathId));
        return E_FAIL;
    }
    return static_cast<HRESULT>(countStatus);
}

HRESULT CMpioMgmt::MpioGetPathPolicy(ULONGLONG pathId, BOOL* primaryPath, ULONG* pathWeight) {
    if (!primaryPath || !pathWeight) return E_POINTER;
    return RunOperation("CMpioMgmt::MpioGetPathPolicy", [&](IWbemServices* services) {
        const HRESULT hr = GetPathPolicy(services, pathId, primaryPath, pathWeight);
        trace_printf("CMpioMgmt::MpioGetPathPolicy, PathId=%llx PrimaryPath=%d PathWeight=%x", u64(pathId),
                     *primaryPath, *pathWeight);
        return FAILED(hr) ? E_FAIL : hr;
    });
}

HRESULT CMpioMgmt::MpioSetPathPolicy(ULONGLONG pathId, BOOL primaryPath, ULONG pathWeight) {
    return RunOperation("CMpioMgmt::MpioSetPathPolicy", [&](IWbemServices* services) {
        const HRESULT hr = SetPathPolicy(services, pathId, primaryPath, pathWeight);
        trace_printf("CMpioMgmt::MpioSetPathPolicy, PathId=%llx PrimaryPath=%d PathWeight=%x", u64(pathId),
                     primaryPath, pathWeight);
        return FAILED(hr) ? E_FAIL : hr;
    });
}
