#pragma once
// The readers of the WMI classes that the MPIO driver and its device-specific
// module (DSM) publish in "root\wmi", the fixed-capacity records they fill and
// the status codes they return. The MPIO manager (mpio_mgmt.h) runs them on
// the connection it opens for each operation.
//
// Texts are kept as VariantToText gives them: a string property is stored
// with its double quotes. Every copy into a record is cut to the field's
// capacity, and counts read from WMI never take a walk past the entries a
// record holds.
#include <platform/safearray.h>
#include <platform/wbem.h>

constexpr size_t kMpioTextChars = 64;
constexpr size_t kMpioDeviceNameChars = 66;
constexpr size_t kMpioMaxPdos = 32;
constexpr size_t kMpioMaxControllers = 11;
constexpr size_t kMpioControllersRead = 10;
constexpr size_t kMpioMaxDsmPaths = 32;
constexpr size_t kMpioInstanceNameChars = 128;

// Reader status codes.
constexpr ULONG MPIO_STATUS_SUCCESS = 0;
constexpr ULONG DSM_CAUGHT_EXCEPTION = 1;     // a path-entry reader caught an exception; a DSM method call failed
constexpr ULONG DSM_INVALID_PARAM_ERROR = 2;  // a required output is missing
constexpr ULONG MPIO_MORE_DRIVES = 3;         // more drives than the room given (the count is still set)
constexpr ULONG MPIO_ALLOC_FAILED = 7;
constexpr ULONG MPIO_WMI_INIT_FAILED = 8;        // the WMI connection could not be opened
constexpr ULONG MPIO_WMI_ENUM_FAILED = 14;       // no instance, or a property that must be an array is not one
constexpr ULONG MPIO_WMI_PROPERTY_FAILED = 15;   // a property cannot be read or has an unexpected type
constexpr ULONG MPIO_WMI_WRITE_FAILED = 16;      // a changed instance could not be written back
constexpr ULONG DSM_METHOD_ENUM_FAILED = 17;     // the DSM's method class cannot be enumerated
constexpr ULONG MPIO_WMI_NOT_FOUND = 22;         // WMI does not serve the class

// What WMI reports when it does not serve a class; the readers read it as "not found".
constexpr HRESULT kWmiClassNotFound = WBEM_E_INVALID_CLASS;

struct MPIO_DRIVE_INFO {
    ULONG NumberPaths;
    WCHAR Name[kMpioTextChars];
    WCHAR SerialNumber[kMpioTextChars];
    WCHAR DsmName[kMpioTextChars];
};
static_assert(sizeof(MPIO_DRIVE_INFO) == 388);

struct MPIO_PDO_INFO {
    UCHAR PortNumber;
    UCHAR ScsiPathId;
    UCHAR TargetId;
    UCHAR Lun;
    ULONG PathStatus;  // no reader fills it: it stays 0
    ULONGLONG PathIdentifier;
};
static_assert(sizeof(MPIO_PDO_INFO) == 16);

struct MPIO_DESCRIPTOR {
    ULONG NumberPdos;  // as the property gave it, even beyond the entries read
    WCHAR DeviceName[kMpioDeviceNameChars];
    MPIO_PDO_INFO PdoInformation[kMpioMaxPdos];
};
static_assert(sizeof(MPIO_DESCRIPTOR) == 648);

struct MPIO_CONTROLLER_INFO {
    ULONG IdentifierType;
    ULONG ControllerState;
    WCHAR AssociatedDsm[kMpioTextChars];
};
static_assert(sizeof(MPIO_CONTROLLER_INFO) == 136);

struct MPIO_CONTROLLER_CONFIGURATION {
    ULONG NumberControllers;
    MPIO_CONTROLLER_INFO ControllerInfo[kMpioMaxControllers];
};
static_assert(sizeof(MPIO_CONTROLLER_CONFIGURATION) == 1500);

struct MPIO_DSM_PATH {
    ULONGLONG DsmPathId;
    ULONG PathWeight;
    ULONG PrimaryPath;
};
static_assert(sizeof(MPIO_DSM_PATH) == 16);

struct DSM_LOAD_BALANCE_POLICY {
    ULONG Version;            // low byte of the property
    ULONG LoadBalancePolicy;  // low byte of the property
    ULONG DSMPathCount;       // low byte of the property
    MPIO_DSM_PATH DSM_Paths[kMpioMaxDsmPaths];
};
static_assert(sizeof(DSM_LOAD_BALANCE_POLICY) == 528);

// An instance name in device-path form, for trace lines.
struct MPIO_INSTANCE_NAME {
    WCHAR Text[kMpioInstanceNameChars];
};

// The device-path form of an instance name as VariantToText gives it (in
// double quotes): the quotes and the two-character instance suffix dropped,
// each backslash made "#", "\\?\" before and the disk interface class after.
void MakeDevicePathName(const WCHAR* quotedName, MPIO_INSTANCE_NAME& name);

// Readers of one instance or embedded object.
ULONG ParseMpioDiskInfo(IWbemClassObject* instance, MPIO_DRIVE_INFO* drives, ULONG room, ULONG& numberDrives);
ULONG ParseDriveInfo(IWbemClassObject* driveInfo, MPIO_DRIVE_INFO& drive);
ULONG ParseMpioDescr(IWbemClassObject* instance, MPIO_DESCRIPTOR& descriptor, MPIO_INSTANCE_NAME* name);
ULONG ParsePdoInfo(IWbemClassObject* pdoInfo, MPIO_PDO_INFO& pdo);
ULONG ParseControllerInfo(IWbemClassObject* controllerInfo, MPIO_CONTROLLER_INFO& controller);
ULONG ParseDsmQueryLBPolicy(IWbemClassObject* instance, DSM_LOAD_BALANCE_POLICY& policy, MPIO_INSTANCE_NAME* name);
ULONG ParseMpioDsmPath(IWbemClassObject* dsmPath, MPIO_DSM_PATH& path);

// Readers of a class's first instance.
ULONG ParseMPIOControllerConfig(IWbemServices* services, MPIO_CONTROLLER_CONFIGURATION& configuration, ULONG& count);
ULONG ParseDsmUniqueId(IWbemServices* services, ULONGLONG& dsmUniqueId);

// Changing one path of a load-balance instance: the matching path objects get
// the new weight and primary flag, and the changed paths are put back into
// the instance. `changed` tells whether the instance now differs.
ULONG SetDsmQueryLBPolicy(IWbemClassObject* instance, ULONGLONG pathId, BOOL primary, ULONG weight,
                          DSM_LOAD_BALANCE_POLICY& policy, MPIO_INSTANCE_NAME* name, bool& changed);
ULONG SetMpioDsmPath(IWbemClassObject* dsmPath, ULONGLONG pathId, BOOL primary, ULONG weight, MPIO_DSM_PATH& path,
                     bool& changed);
