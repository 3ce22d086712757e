#include <hostlib/mpio_readers.h>

#include <hostlib/conversions.h>
#include <hostlib/trace.h>

#include <exception>

#include "wmi_values.h"

using namespace hostlib::mpio;

namespace {

constexpr std::u16string_view kIscsiDsm = u"Microsoft iSCSI DSM";
constexpr std::u16string_view kDiskInterfaceClass = u"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

bool ReadLong(IWbemClassObject* object, const WCHAR* name, LONG& number) {
    Variant value;
    if (!GetProperty(object, name, value)) return false;
    if (!AsLong(value.v, number)) {
        trace_printf("%s.vt = %d", narrow(name).c_str(), value.v.vt);
        return false;
    }
    trace_printf("%s = %d", narrow(name).c_str(), number);
    return true;
}

bool ReadText(IWbemClassObject* object, const WCHAR* name, std::u16string& text) {
    Variant value;
    if (!GetProperty(object, name, value)) return false;
    text = TextOf(value.v);
    trace_printf("%s = %s", narrow(name).c_str(), narrow(text).c_str());
    return true;
}

bool ReadPathId(IWbemClassObject* object, const WCHAR* name, ULONGLONG& id) {
    Variant value;
    if (!GetProperty(object, name, value)) return false;
    if (!AsPathId(value.v, id)) {
        trace_printf("%s.vt = %d", narrow(name).c_str(), value.v.vt);
        return false;
    }
    trace_printf("%s = %llx", narrow(name).c_str(), static_cast<unsigned long long>(id));
    return true;
}

// A weight arrives as a 32-bit integer (a negative one means the default,
// 100) or as text.
bool ReadPathWeight(IWbemClassObject* object, ULONG& weight) {
    Variant value;
    if (!GetProperty(object, u"PathWeight", value)) return false;
    LONG number = 0;
    ULONGLONG parsed = 0;
    if (AsLong(value.v, number)) {
        weight = number < 0 ? 100 : static_cast<ULONG>(number);
    } else if (value.v.vt == VT_BSTR && ParseDecimal64(value.v.bstrVal ? value.v.bstrVal : u"", parsed)) {
        weight = static_cast<ULONG>(parsed);
    } else {
        trace_printf("PathWeight.vt = %d", value.v.vt);
        return false;
    }
    return true;
}

bool ReadPrimaryPath(IWbemClassObject* object, ULONG& primary) {
    Variant value;
    if (!GetProperty(object, u"PrimaryPath", value)) return false;
    LONG number = 0;
    if (value.v.vt == VT_BOOL) {
        primary = value.v.boolVal != VARIANT_FALSE;
    } else if (AsLong(value.v, number)) {
        primary = number != 0;
    } else {
        trace_printf("PrimaryPath.vt = %d", value.v.vt);
        return false;
    }
    return true;
}

void ReadInstanceName(IWbemClassObject* instance, MPIO_INSTANCE_NAME* name) {
    std::u16string text;
    if (!ReadText(instance, u"InstanceName", text)) return;
    MPIO_INSTANCE_NAME devicePath{};
    MakeDevicePathName(text.c_str(), devicePath);
    trace_printf("InstanceName (device path) = %s", narrow(devicePath.Text).c_str());
    if (name) *name = devicePath;
}

// The iSCSI DSM gives its serial number as hexadecimal pairs from the ninth
// character on, one character each, up to the end or a double quote.
std::u16string DecodeIscsiSerial(std::u16string_view serial) {
    std::u16string decoded = u"\"";
    for (size_t i = 8; i + 1 < serial.size() && serial[i] != u'"' && serial[i + 1] != u'"'; i += 2)
        decoded += static_cast<WCHAR>(HexDigitValue(serial[i]) * 16 + HexDigitValue(serial[i + 1]));
    return decoded + u"\"";
}

}  // namespace

void MakeDevicePathName(const WCHAR* quotedName, MPIO_INSTANCE_NAME& name) {
    const std::u16string_view quoted = quotedName ? quotedName : u"";
    std::u16string body = quoted.size() > 4 ? std::u16string(quoted.substr(1, quoted.size() - 4)) : std::u16string();
    for (WCHAR& c : body)
        if (c == u'\\') c = u'#';
    CopyText(name.Text, u"\\\\?\\" + body + std::u16string(kDiskInterfaceClass));
}

ULONG ParseDriveInfo(IWbemClassObject* driveInfo, MPIO_DRIVE_INFO& drive) {
    LONG paths = 0;
    std::u16string name, dsm, serial;
    if (!ReadLong(driveInfo, u"NumberPaths", paths) || !ReadText(driveInfo, u"Name", name) ||
        !ReadText(driveInfo, u"DsmName", dsm) || !ReadText(driveInfo, u"SerialNumber", serial))
        return MPIO_WMI_PROPERTY_FAILED;
    drive.NumberPaths = static_cast<ULONG>(paths);
    CopyText(drive.Name, name);
    CopyText(drive.DsmName, dsm);
    CopyText(drive.SerialNumber, dsm.find(kIscsiDsm) != std::u16string::npos ? DecodeIscsiSerial(serial) : serial);
    return MPIO_STATUS_SUCCESS;
}

ULONG ParseMpioDiskInfo(IWbemClassObject* instance, MPIO_DRIVE_INFO* drives, ULONG room, ULONG& numberDrives) {
    std::u16string instanceName;
    ReadText(instance, u"InstanceName", instanceName);
    LONG count = 0;
    if (!ReadLong(instance, u"NumberDrives", count)) return MPIO_WMI_PROPERTY_FAILED;
    numberDrives = static_cast<ULONG>(count);
    if (numberDrives > room) {
        trace_printf("ParseMpioDiskInfo: Actual no. of MPIO LUNs = %d", count);
        return MPIO_MORE_DRIVES;
    }
    if (numberDrives == 0) return MPIO_STATUS_SUCCESS;

    Variant driveInfo;
    if (!GetProperty(instance, u"DriveInfo", driveInfo)) return MPIO_WMI_PROPERTY_FAILED;
    if (ObjectRef single = AsObject(driveInfo.v)) {
        trace_printf("WARNING: DriveInfo is not an array!");
        numberDrives = 1;
        return ParseDriveInfo(single.get(), drives[0]);
    }
    if (!IsObjectArray(driveInfo.v)) {
        trace_printf("driveInfo.vt = %d", driveInfo.v.vt);
        return MPIO_WMI_PROPERTY_FAILED;
    }
    const std::vector<ObjectRef> objects = ObjectsOf(driveInfo.v, room);
    for (size_t i = 0; i < objects.size(); ++i)
        if (const ULONG status = ParseDriveInfo(objects[i].get(), drives[i])) return status;
    return MPIO_STATUS_SUCCESS;
}

ULONG ParsePdoInfo(IWbemClassObject* pdoInfo, MPIO_PDO_INFO& pdo) {
    if (!ReadPathId(pdoInfo, u"PathIdentifier", pdo.PathIdentifier)) return MPIO_WMI_PROPERTY_FAILED;
    Variant address;
    if (!GetProperty(pdoInfo, u"ScsiAddress", address)) return MPIO_WMI_PROPERTY_FAILED;
    const ObjectRef scsiAddress = AsObject(address.v);
    LONG port = 0, pathId = 0, target = 0, lun = 0;
    if (!scsiAddress || !ReadLong(scsiAddress.get(), u"PortNumber", port) ||
        !ReadLong(scsiAddress.get(), u"ScsiPathId", pathId) || !ReadLong(scsiAddress.get(), u"TargetId", target) ||
        !ReadLong(scsiAddress.get(), u"Lun", lun))
        return MPIO_WMI_PROPERTY_FAILED;
    pdo.PortNumber = static_cast<UCHAR>(port);
    pdo.ScsiPathId = static_cast<UCHAR>(pathId);
    pdo.TargetId = static_cast<UCHAR>(target);
    pdo.Lun = static_cast<UCHAR>(lun);
    return MPIO_STATUS_SUCCESS;
}

ULONG ParseMpioDescr(IWbemClassObject* instance, MPIO_DESCRIPTOR& descriptor, MPIO_INSTANCE_NAME* name) {
    ReadInstanceName(instance, name);
    LONG pdos = 0;
    std::u16string deviceName;
    if (!ReadLong(instance, u"NumberPdos", pdos) || !ReadText(instance, u"DeviceName", deviceName))
        return MPIO_WMI_PROPERTY_FAILED;
    descriptor.NumberPdos = static_cast<ULONG>(pdos);
    CopyText(descriptor.DeviceName, deviceName);
    if (descriptor.NumberPdos == 0) return MPIO_STATUS_SUCCESS;

    Variant pdoInformation;
    if (!GetProperty(instance, u"PdoInformation", pdoInformation)) return MPIO_WMI_PROPERTY_FAILED;
    if (!IsObjectArray(pdoInformation.v)) {
        trace_printf("ERROR: PdoInformation is not an ARRAY!!");
        return MPIO_WMI_ENUM_FAILED;
    }
    const std::vector<ObjectRef> objects = ObjectsOf(pdoInformation.v, kMpioMaxPdos);
    if (objects.size() != descriptor.NumberPdos)
        trace_printf("WARNING: Inconsistent information: NumberPdos=%d, number of Pdo object=%d", pdos,
                     static_cast<int>(objects.size()));
    for (size_t i = 0; i < objects.size(); ++i)
        if (const ULONG status = ParsePdoInfo(objects[i].get(), descriptor.PdoInformation[i])) return status;
    return MPIO_STATUS_SUCCESS;
}

ULONG ParseControllerInfo(IWbemClassObject* controllerInfo, MPIO_CONTROLLER_INFO& controller) {
    std::u16string dsm;
    LONG state = 0, type = 0;
    if (!ReadText(controllerInfo, u"AssociatedDsm", dsm) || !ReadLong(controllerInfo, u"ControllerState", state) ||
        !ReadLong(controllerInfo, u"IdentifierType", type))
        return MPIO_WMI_PROPERTY_FAILED;
    CopyText(controller.AssociatedDsm, dsm);
    controller.ControllerState = static_cast<ULONG>(state);
    controller.IdentifierType = static_cast<ULONG>(type);
    return MPIO_STATUS_SUCCESS;
}

ULONG ParseMPIOControllerConfig(IWbemServices* services, MPIO_CONTROLLER_CONFIGURATION& configuration, ULONG& count) {
    count = 0;
    ObjectRef instance;
    if (const ULONG status = FirstInstance(services, u"MPIO_CONTROLLER_CONFIGURATION", instance)) return status;
    LONG controllers = 0;
    if (!ReadLong(instance.get(), u"NumberControllers", controllers)) return MPIO_WMI_PROPERTY_FAILED;
    configuration.NumberControllers = static_cast<ULONG>(controllers);
    trace_printf("Number of DSM Controllers: %d", controllers);
    if (controllers == 0) return MPIO_STATUS_SUCCESS;

    Variant controllerInfo;
    if (!GetProperty(instance.get(), u"ControllerInfo", controllerInfo)) return MPIO_WMI_PROPERTY_FAILED;
    if (ObjectRef single = AsObject(controllerInfo.v)) {
        trace_printf("WARNING: ControllerInfo is not an array!");
        const ULONG status = ParseControllerInfo(single.get(), configuration.ControllerInfo[0]);
        count = 1;
        return status;
    }
    if (controllerInfo.v.vt == VT_NULL) {
        trace_printf("No MPIO_CONTROLLER_INFO instances, NumberControllers=%d", controllers);
        return MPIO_STATUS_SUCCESS;
    }
    if (!IsObjectArray(controllerInfo.v)) {
        trace_printf("ControllerInfo.vt= %d", controllerInfo.v.vt);
        return MPIO_WMI_PROPERTY_FAILED;
    }
    for (const ObjectRef& object : ObjectsOf(controllerInfo.v, kMpioControllersRead)) {
        if (const ULONG status = ParseControllerInfo(object.get(), configuration.ControllerInfo[count])) return status;
        ++count;
    }
    return MPIO_STATUS_SUCCESS;
}

ULONG ParseDsmUniqueId(IWbemServices* services, ULONGLONG& dsmUniqueId) {
    ObjectRef instance;
    if (const ULONG status = FirstInstance(services, u"DSM_QueryUniqueId", instance)) return status;
    Variant value;
    if (!GetProperty(instance.get(), u"DsmUniqueId", value)) return MPIO_WMI_PROPERTY_FAILED;
    LONG number = 0;
    if (AsLong(value.v, number)) {
        dsmUniqueId = static_cast<ULONGLONG>(static_cast<LONGLONG>(number));  // signed, widened
    } else if (!AsPathId(value.v, dsmUniqueId)) {  // the 64-bit form WMI gives as text
        trace_printf("DsmUniqueId.vt = %d", value.v.vt);
        return MPIO_WMI_PROPERTY_FAILED;
    }
    trace_printf("DsmUniqueId = %llx", static_cast<unsigned long long>(dsmUniqueId));
    return MPIO_STATUS_SUCCESS;
}

ULONG ParseMpioDsmPath(IWbemClassObject* dsmPath, MPIO_DSM_PATH& path) {
    try {
        if (!ReadPathId(dsmPath, u"DsmPathId", path.DsmPathId) || !ReadPathWeight(dsmPath, path.PathWeight) ||
            !ReadPrimaryPath(dsmPath, path.PrimaryPath))
            return MPIO_WMI_PROPERTY_FAILED;
        return MPIO_STATUS_SUCCESS;
    } catch (const std::exception&) {
        trace_printf("ParseMpioDsmPath, caught exception");
        return DSM_CAUGHT_EXCEPTION;
    }
}

namespace {

// Reads the embedded "LoadBalancePolicy" object and its counts into the record.
ULONG ReadPolicyHeader(IWbemClassObject* instance, DSM_LOAD_BALANCE_POLICY& policy, ObjectRef& lbPolicy) {
    Variant embedded;
    if (!GetProperty(instance, u"LoadBalancePolicy", embedded)) return MPIO_WMI_PROPERTY_FAILED;
    lbPolicy = AsObject(embedded.v);
    LONG version = 0, balance = 0, pathCount = 0;
    if (!lbPolicy || !ReadLong(lbPolicy.get(), u"Version", version) ||
        !ReadLong(lbPolicy.get(), u"LoadBalancePolicy", balance) ||
        !ReadLong(lbPolicy.get(), u"DSMPathCount", pathCount))
        return MPIO_WMI_PROPERTY_FAILED;
    policy.Version = static_cast<ULONG>(version) & 0xFF;
    policy.LoadBalancePolicy = static_cast<ULONG>(balance) & 0xFF;
    policy.DSMPathCount = static_cast<ULONG>(pathCount) & 0xFF;
    return MPIO_STATUS_SUCCESS;
}

void TracePaths(const DSM_LOAD_BALANCE_POLICY& policy) {
    const ULONG shown = std::min<ULONG>(policy.DSMPathCount, kMpioMaxDsmPaths);
    for (ULONG i = 0; i < shown; ++i)
        trace_printf("ParseDsmQueryLBPolicy, DsmPathId=%llx PrimaryPath=%x PathWeight=%x",
                     static_cast<unsigned long long>(policy.DSM_Paths[i].DsmPathId), policy.DSM_Paths[i].PrimaryPath,
                     policy.DSM_Paths[i].PathWeight);
}

}  // namespace

ULONG ParseDsmQueryLBPolicy(IWbemClassObject* instance, DSM_LOAD_BALANCE_POLICY& policy, MPIO_INSTANCE_NAME* name) {
    ReadInstanceName(instance, name);
    ObjectRef lbPolicy;
    if (const ULONG status = ReadPolicyHeader(instance, policy, lbPolicy)) return status;
    Variant paths;
    if (!GetProperty(lbPolicy.get(), u"DSM_Paths", paths) || !IsObjectArray(paths.v)) {
        trace_printf("ParseDsmQueryLBPolicy, ERROR: DSM_Paths is not an ARRAY!");
        return MPIO_WMI_ENUM_FAILED;
    }
    const std::vector<ObjectRef> objects = ObjectsOf(paths.v, kMpioMaxDsmPaths);
    for (size_t i = 0; i < objects.size(); ++i) ParseMpioDsmPath(objects[i].get(), policy.DSM_Paths[i]);
    TracePaths(policy);
    return MPIO_STATUS_SUCCESS;
}

ULONG SetMpioDsmPath(IWbemClassObject* dsmPath, ULONGLONG pathId, BOOL primary, ULONG weight, MPIO_DSM_PATH& path,
                     bool& changed) {
    changed = false;
    try {
        if (!ReadPathId(dsmPath, u"DsmPathId", path.DsmPathId)) return MPIO_WMI_PROPERTY_FAILED;
        const bool match = path.DsmPathId == pathId;
        if (match) trace_printf("SetMpioDsmPath, FOUND DsmPathId=%llx", static_cast<unsigned long long>(pathId));

        if (!ReadPathWeight(dsmPath, path.PathWeight)) return MPIO_WMI_PROPERTY_FAILED;
        if (match) {
            Variant value;
            value.v.vt = VT_I4;
            value.v.lVal = static_cast<LONG>(weight);
            const HRESULT hr = dsmPath->Put(u"PathWeight", 0, &value.v, 0);
            if (FAILED(hr)) {
                trace_printf("IWbemClassObject::Put(PathWeight) sc=%lx", trace_code(hr));
                return MPIO_WMI_PROPERTY_FAILED;
            }
            path.PathWeight = weight;
            trace_printf("SetMpioDsmPath, Set PathWeight to %x", weight);
        }

        if (!ReadPrimaryPath(dsmPath, path.PrimaryPath)) return MPIO_WMI_PROPERTY_FAILED;
        if (match) {
            Variant value;
            value.v.vt = VT_BOOL;
            value.v.boolVal = primary ? VARIANT_TRUE : VARIANT_FALSE;
            const HRESULT hr = dsmPath->Put(u"PrimaryPath", 0, &value.v, 0);
            if (FAILED(hr)) {
                trace_printf("IWbemClassObject::Put(PrimaryPath) sc=%lx", trace_code(hr));
                return MPIO_WMI_PROPERTY_FAILED;
            }
            path.PrimaryPath = primary ? 1 : 0;
            trace_printf("SetMpioDsmPath, Set PrimaryPath to %d", primary ? 1 : 0);
        }
        changed = match;
        return MPIO_STATUS_SUCCESS;
    } catch (const std::exception&) {
        trace_printf("SetMpioDsmPath, caught exception");
        return DSM_CAUGHT_EXCEPTION;
    }
}

ULONG SetDsmQueryLBPolicy(IWbemClassObject* instance, ULONGLONG pathId, BOOL primary, ULONG weight,
                          DSM_LOAD_BALANCE_POLICY& policy, MPIO_INSTANCE_NAME* name, bool& changed) {
    changed = false;
    ReadInstanceName(instance, name);
    ObjectRef lbPolicy;
    if (const ULONG status = ReadPolicyHeader(instance, policy, lbPolicy)) return status;
    Variant paths;
    if (!GetProperty(lbPolicy.get(), u"DSM_Paths", paths) || !IsObjectArray(paths.v)) {
        trace_printf("ParseDsmQueryLBPolicy, ERROR: DSM_Paths is not an ARRAY!");
        return MPIO_WMI_ENUM_FAILED;
    }
    // Every path is visited, also beyond the record's room, so a path listed
    // late still gets its change; the record keeps the first ones.
    LONG low = 0, high = -1;
    SafeArrayGetLBound(paths.v.parray, 1, &low);
    SafeArrayGetUBound(paths.v.parray, 1, &high);
    for (LONG i = low; i <= high; ++i) {
        IUnknown* element = nullptr;
        if (FAILED(SafeArrayGetElement(paths.v.parray, &i, &element)) || !element) continue;
        Variant holder;
        holder.v.vt = VT_UNKNOWN;
        holder.v.punkVal = element;
        const ObjectRef dsmPath = AsObject(holder.v);
        MPIO_DSM_PATH entry{};
        bool pathChanged = false;
        if (dsmPath) SetMpioDsmPath(dsmPath.get(), pathId, primary, weight, entry, pathChanged);
        if (static_cast<size_t>(i - low) < kMpioMaxDsmPaths) policy.DSM_Paths[i - low] = entry;
        // The array holds what it was given: the changed path goes back in.
        if (pathChanged && SUCCEEDED(SafeArrayPutElement(paths.v.parray, &i, dsmPath.get()))) changed = true;
    }
    TracePaths(policy);
    if (!changed) return MPIO_STATUS_SUCCESS;

    // Embedded objects are values: the changed paths reach the instance only
    // when each level is put back.
    HRESULT hr = lbPolicy->Put(u"DSM_Paths", 0, &paths.v, 0);
    if (SUCCEEDED(hr)) {
        Variant embedded;
        embedded.v.vt = VT_UNKNOWN;
        embedded.v.punkVal = lbPolicy.get();
        lbPolicy->AddRef();
        hr = instance->Put(u"LoadBalancePolicy", 0, &embedded.v, 0);
    }
    if (FAILED(hr)) {
        trace_printf("SetDsmQueryLBPolicy, IWbemClassObject::Put sc=%lx", trace_code(hr));
        changed = false;
        return MPIO_WMI_PROPERTY_FAILED;
    }
    return MPIO_STATUS_SUCCESS;
}
