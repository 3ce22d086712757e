#pragma once
// The disk-management service's published records, values, result codes and
// interfaces that the provider implements and calls. Field orders and sizes
// are the published ones (LP64); the interface and class ids are our own.
#include <cstddef>

#include <platform/errors.h>
#include <platform/guid.h>
#include <platform/types.h>
#include <platform/unknown.h>

using VDS_OBJECT_ID = GUID;

// ---- Result codes -----------------------------------------------------------

constexpr HRESULT STG_E_INSUFFICIENTMEMORY = hr_of(0x80030008);
constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;  // 0x800706BA as an HRESULT

constexpr HRESULT VDS_E_NOT_SUPPORTED = hr_of(0x80042400);
constexpr HRESULT VDS_E_PROVIDER_ALREADY_REGISTERED = hr_of(0x80042403);
constexpr HRESULT VDS_E_ANOTHER_CALL_IN_PROGRESS = hr_of(0x80042404);
constexpr HRESULT VDS_E_OBJECT_NOT_FOUND = hr_of(0x80042405);
constexpr HRESULT VDS_E_OPERATION_PENDING = hr_of(0x80042409);
constexpr HRESULT VDS_E_CANCEL_TOO_LATE = hr_of(0x8004240C);
constexpr HRESULT VDS_E_NOT_ENOUGH_SPACE = hr_of(0x8004240F);
constexpr HRESULT VDS_E_NOT_ENOUGH_DRIVE = hr_of(0x80042410);
constexpr HRESULT VDS_E_INVALID_OPERATION = hr_of(0x80042415);
constexpr HRESULT VDS_E_OBJECT_DELETED = hr_of(0x8004241F);
constexpr HRESULT VDS_E_PROVIDER_TYPE_UNKNOWN = hr_of(0x8004244A);
constexpr HRESULT VDS_S_NAME_NOT_SET_EXACTLY = hr_of(0x00042700);
constexpr HRESULT VDS_S_SOME_PATH_STATUSES_SET = hr_of(0x00042702);
constexpr HRESULT VDS_S_ISCSI_PORTAL_GROUP_EXISTS = hr_of(0x00042714);

// ---- Values -----------------------------------------------------------------

enum VDS_OBJECT_TYPE : int32_t {
    VDS_OT_UNKNOWN = 0,
    VDS_OT_SUB_SYSTEM = 30,
    VDS_OT_CONTROLLER = 31,
    VDS_OT_DRIVE = 32,
    VDS_OT_LUN = 33,
    VDS_OT_LUN_PLEX = 34,
    VDS_OT_PORT = 35,
    VDS_OT_PORTAL = 36,
    VDS_OT_TARGET = 37,
    VDS_OT_PORTAL_GROUP = 38,
};

enum VDS_NOTIFICATION_TARGET_TYPE : int32_t {
    VDS_NTT_UNKNOWN = 0,
    VDS_NTT_SUB_SYSTEM = 30,
    VDS_NTT_CONTROLLER = 31,
    VDS_NTT_DRIVE = 32,
    VDS_NTT_LUN = 33,
    VDS_NTT_LUN_PLEX = 34,
    VDS_NTT_PORT = 35,
    VDS_NTT_PORTAL = 36,
    VDS_NTT_TARGET = 37,
    VDS_NTT_PORTAL_GROUP = 38,
};

// Notification events (the ulEvent member).
constexpr ULONG VDS_NF_SUB_SYSTEM_ARRIVE = 101;
constexpr ULONG VDS_NF_SUB_SYSTEM_DEPART = 102;
constexpr ULONG VDS_NF_SUB_SYSTEM_MODIFY = 151;
constexpr ULONG VDS_NF_CONTROLLER_ARRIVE = 103;
constexpr ULONG VDS_NF_CONTROLLER_DEPART = 104;
constexpr ULONG VDS_NF_DRIVE_ARRIVE = 105;
constexpr ULONG VDS_NF_DRIVE_DEPART = 106;
constexpr ULONG VDS_NF_DRIVE_MODIFY = 107;
constexpr ULONG VDS_NF_LUN_ARRIVE = 108;
constexpr ULONG VDS_NF_LUN_DEPART = 109;
constexpr ULONG VDS_NF_LUN_MODIFY = 110;
constexpr ULONG VDS_NF_PORT_ARRIVE = 121;
constexpr ULONG VDS_NF_PORT_DEPART = 122;
constexpr ULONG VDS_NF_PORTAL_ARRIVE = 123;
constexpr ULONG VDS_NF_PORTAL_DEPART = 124;
constexpr ULONG VDS_NF_PORTAL_MODIFY = 125;
constexpr ULONG VDS_NF_TARGET_ARRIVE = 126;
constexpr ULONG VDS_NF_TARGET_DEPART = 127;
constexpr ULONG VDS_NF_TARGET_MODIFY = 128;
constexpr ULONG VDS_NF_PORTAL_GROUP_ARRIVE = 129;
constexpr ULONG VDS_NF_PORTAL_GROUP_DEPART = 130;
constexpr ULONG VDS_NF_PORTAL_GROUP_MODIFY = 131;

enum VDS_ASYNC_OUTPUT_TYPE : int32_t {
    VDS_ASYNCOUT_UNKNOWN = 0,
    VDS_ASYNCOUT_CREATELUN = 50,
    VDS_ASYNCOUT_EXTENDLUN = 54,
    VDS_ASYNCOUT_CREATEPORTALGROUP = 63,
    VDS_ASYNCOUT_ADDPORTAL = 65,
};

enum VDS_PROVIDER_TYPE : int32_t {
    VDS_PT_UNKNOWN = 0,
    VDS_PT_SOFTWARE = 1,
    VDS_PT_HARDWARE = 2,
};

enum VDS_HWPROVIDER_TYPE : int32_t {
    VDS_HWT_UNKNOWN = 0,
    VDS_HWT_PCI_RAID = 1,
    VDS_HWT_FIBRE_CHANNEL = 2,
    VDS_HWT_ISCSI = 3,
};

// Version support flags (IVdsProviderSupport::GetVersionSupport).
constexpr ULONG VDS_VSF_1_1 = 0x2;

enum VDS_LUN_TYPE : int32_t {
    VDS_LT_UNKNOWN = 0,
    VDS_LT_DEFAULT = 1,
    VDS_LT_FAULT_TOLERANT = 2,
    VDS_LT_NON_FAULT_TOLERANT = 3,
    VDS_LT_SIMPLE = 10,
    VDS_LT_SPAN = 11,
    VDS_LT_STRIPE = 12,
    VDS_LT_MIRROR = 13,
    VDS_LT_PARITY = 14,
};

enum VDS_SUB_SYSTEM_STATUS : int32_t {
    VDS_SSS_UNKNOWN = 0,
    VDS_SSS_ONLINE = 1,
    VDS_SSS_NOT_READY = 2,
    VDS_SSS_OFFLINE = 4,
    VDS_SSS_FAILED = 5,
};
enum VDS_LUN_STATUS : int32_t {
    VDS_LS_UNKNOWN = 0,
    VDS_LS_ONLINE = 1,
    VDS_LS_NOT_READY = 2,
    VDS_LS_OFFLINE = 4,
    VDS_LS_FAILED = 5,
};
enum VDS_DRIVE_STATUS : int32_t {
    VDS_DRS_UNKNOWN = 0,
    VDS_DRS_ONLINE = 1,
    VDS_DRS_NOT_READY = 2,
    VDS_DRS_OFFLINE = 4,
    VDS_DRS_FAILED = 5,
};
enum VDS_PORT_STATUS : int32_t {
    VDS_PRS_UNKNOWN = 0,
    VDS_PRS_ONLINE = 1,
    VDS_PRS_NOT_READY = 2,
    VDS_PRS_OFFLINE = 4,
    VDS_PRS_FAILED = 5,
};
enum VDS_ISCSI_PORTAL_STATUS : int32_t {
    VDS_IPS_UNKNOWN = 0,
    VDS_IPS_ONLINE = 1,
    VDS_IPS_NOT_READY = 2,
    VDS_IPS_OFFLINE = 4,
    VDS_IPS_FAILED = 5,
};
enum VDS_CONTROLLER_STATUS : int32_t {
    VDS_CS_UNKNOWN = 0,
    VDS_CS_ONLINE = 1,
    VDS_CS_NOT_READY = 2,
    VDS_CS_OFFLINE = 4,
    VDS_CS_FAILED = 5,
};

enum VDS_HEALTH : int32_t {
    VDS_H_UNKNOWN = 0,
    VDS_H_HEALTHY = 1,
    VDS_H_REBUILDING = 2,
    VDS_H_STALE = 3,
    VDS_H_FAILING = 4,
    VDS_H_FAILING_REDUNDANCY = 5,
    VDS_H_FAILED_REDUNDANCY = 6,
    VDS_H_FAILED_REDUNDANCY_FAILING = 7,
    VDS_H_FAILED = 8,
};

enum VDS_TRANSITION_STATE : int32_t {
    VDS_TS_UNKNOWN = 0,
    VDS_TS_STABLE = 1,
    VDS_TS_EXTENDING = 2,
    VDS_TS_SHRINKING = 3,
    VDS_TS_RECONFIGING = 4,
};

enum VDS_PATH_STATUS : int32_t {
    VDS_MPS_UNKNOWN = 0,
    VDS_MPS_ONLINE = 1,
    VDS_MPS_FAILED = 5,
    VDS_MPS_STANDBY = 7,
};

enum VDS_LOADBALANCE_POLICY_ENUM : int32_t {
    VDS_LBP_UNKNOWN = 0,
    VDS_LBP_FAILOVER = 1,
    VDS_LBP_ROUND_ROBIN = 2,
    VDS_LBP_ROUND_ROBIN_WITH_SUBSET = 3,
    VDS_LBP_DYN_LEAST_QUEUE_DEPTH = 4,
    VDS_LBP_WEIGHTED_PATHS = 5,
    VDS_LBP_LEAST_BLOCKS = 6,
    VDS_LBP_VENDOR_SPECIFIC = 7,
};

enum VDS_MAINTENANCE_OPERATION : int32_t {
    BlinkLight = 1,
    BeepAlarm = 2,
    SpinDown = 3,
    SpinUp = 4,
    Ping = 5,
};

enum VDS_STORAGE_BUS_TYPE : int32_t {
    VDSBusTypeUnknown = 0,
    VDSBusTypeScsi = 1,
    VDSBusTypeAtapi = 2,
    VDSBusTypeAta = 3,
    VDSBusType1394 = 4,
    VDSBusTypeSsa = 5,
    VDSBusTypeFibre = 6,
    VDSBusTypeUsb = 7,
    VDSBusTypeRAID = 8,
    VDSBusTypeiScsi = 9,
};

enum VDS_STORAGE_IDENTIFIER_CODE_SET : int32_t {
    VDSStorageIdCodeSetReserved = 0,
    VDSStorageIdCodeSetBinary = 1,
    VDSStorageIdCodeSetAscii = 2,
};

enum VDS_STORAGE_IDENTIFIER_TYPE : int32_t {
    VDSStorageIdTypeVendorSpecific = 0,
    VDSStorageIdTypeVendorId = 1,
    VDSStorageIdTypeEUI64 = 2,
    VDSStorageIdTypeFCPHName = 3,
    VDSStorageIdTypePortRelative = 4,
};

enum VDS_INTERCONNECT_ADDRESS_TYPE : int32_t {
    VDS_IA_UNKNOWN = 0,
    VDS_IA_FCFS = 1,
    VDS_IA_FCPH = 2,
    VDS_IA_FCPH3 = 3,
    VDS_IA_MAC = 4,
    VDS_IA_SCSI = 5,
};

// The HBA port's type and state, numbered as the HBA API numbers them.
enum VDS_HBAPORT_TYPE : int32_t {
    VDS_HPT_UNKNOWN = 1,
    VDS_HPT_OTHER = 2,
    VDS_HPT_NOTPRESENT = 3,
    VDS_HPT_NPORT = 5,
    VDS_HPT_NLPORT = 6,
    VDS_HPT_FLPORT = 7,
    VDS_HPT_FPORT = 8,
    VDS_HPT_EPORT = 9,
    VDS_HPT_GPORT = 10,
    VDS_HPT_LPORT = 20,
    VDS_HPT_PTP = 21,
};
enum VDS_HBAPORT_STATUS : int32_t {
    VDS_HPS_UNKNOWN = 1,
    VDS_HPS_ONLINE = 2,
    VDS_HPS_OFFLINE = 3,
    VDS_HPS_BYPASSED = 4,
    VDS_HPS_DIAGNOSTICS = 5,
    VDS_HPS_LINKDOWN = 6,
    VDS_HPS_ERROR = 7,
    VDS_HPS_LOOPBACK = 8,
};

enum VDS_IPADDRESS_TYPE : int32_t {
    VDS_IPT_TEXT = 0,
    VDS_IPT_IPV4 = 1,
    VDS_IPT_IPV6 = 2,
};

// Subsystem flags (VDS_SUB_SYSTEM_PROP::ulFlags).
constexpr ULONG VDS_SF_LUN_MASKING_CAPABLE = 0x1;
constexpr ULONG VDS_SF_LUN_PLEXING_CAPABLE = 0x2;
constexpr ULONG VDS_SF_LUN_REMAPPING_CAPABLE = 0x4;
constexpr ULONG VDS_SF_DRIVE_EXTENT_CAPABLE = 0x8;
constexpr ULONG VDS_SF_SUPPORTS_FAULT_TOLERANT_LUNS = 0x200;
constexpr ULONG VDS_SF_SUPPORTS_NON_FAULT_TOLERANT_LUNS = 0x400;
constexpr ULONG VDS_SF_SUPPORTS_SIMPLE_LUNS = 0x800;
constexpr ULONG VDS_SF_SUPPORTS_SPAN_LUNS = 0x1000;
constexpr ULONG VDS_SF_SUPPORTS_STRIPE_LUNS = 0x2000;
constexpr ULONG VDS_SF_SUPPORTS_MIRROR_LUNS = 0x4000;
constexpr ULONG VDS_SF_SUPPORTS_PARITY_LUNS = 0x8000;
constexpr ULONG VDS_SF_SUPPORTS_AUTH_CHAP = 0x10000;
constexpr ULONG VDS_SF_SUPPORTS_SIMPLE_TARGET_CONFIG = 0x40000;

// Drive flags (VDS_DRIVE_PROP::ulFlags).
constexpr ULONG VDS_DRF_HOTSPARE = 0x1;

// Only the low seven bits of an IPsec security flag word are defined.
constexpr ULONGLONG VDS_IPSEC_FLAGS_VALID_MASK = 0x7F;

// ---- Records ----------------------------------------------------------------

struct VDS_PROVIDER_PROP {
    VDS_OBJECT_ID id;
    LPWSTR pwszName;
    GUID guidVersionId;
    LPWSTR pwszVersion;
    VDS_PROVIDER_TYPE type;
    ULONG ulFlags;
    ULONG ulStripeSizeFlags;
    SHORT sRebuildPriority;
};

struct VDS_SUB_SYSTEM_PROP {
    VDS_OBJECT_ID id;
    LPWSTR pwszFriendlyName;
    LPWSTR pwszIdentification;
    ULONG ulFlags;
    ULONG ulStripeSizeFlags;
    VDS_SUB_SYSTEM_STATUS status;
    VDS_HEALTH health;
    SHORT sNumberOfInternalBuses;
    SHORT sMaxNumberOfSlotsEachBus;
    SHORT sMaxNumberOfControllers;
    SHORT sRebuildPriority;
};

struct VDS_LUN_PROP {
    VDS_OBJECT_ID id;
    ULONGLONG ullSize;
    LPWSTR pwszFriendlyName;
    LPWSTR pwszIdentification;
    LPWSTR pwszUnmaskingList;
    ULONG ulFlags;
    VDS_LUN_TYPE type;
    VDS_LUN_STATUS status;
    VDS_HEALTH health;
    VDS_TRANSITION_STATE TransitionState;
    SHORT sRebuildPriority;
};

struct VDS_DRIVE_PROP {
    VDS_OBJECT_ID id;
    ULONGLONG ullSize;
    LPWSTR pwszFriendlyName;
    LPWSTR pwszIdentification;
    ULONG ulFlags;
    VDS_DRIVE_STATUS status;
    VDS_HEALTH health;
    SHORT sInternalBusNumber;
    SHORT sSlotNumber;
};

struct VDS_CONTROLLER_PROP {
    VDS_OBJECT_ID id;
    LPWSTR pwszFriendlyName;
    LPWSTR pwszIdentification;
    VDS_CONTROLLER_STATUS status;
    VDS_HEALTH health;
    SHORT sNumberOfPorts;
};

struct VDS_PORT_PROP {
    VDS_OBJECT_ID id;
    LPWSTR pwszFriendlyName;
    LPWSTR pwszIdentification;
    VDS_PORT_STATUS status;
};

struct VDS_LUN_PLEX_PROP {
    VDS_OBJECT_ID id;
    ULONGLONG ullSize;
    VDS_LUN_TYPE type;
    VDS_LUN_STATUS status;
    VDS_HEALTH health;
    VDS_TRANSITION_STATE TransitionState;
    ULONG ulFlags;
    ULONG ulStripeSize;
    SHORT sRebuildPriority;
};

struct VDS_DRIVE_EXTENT {
    VDS_OBJECT_ID id;
    VDS_OBJECT_ID LunId;
    ULONGLONG ullSize;
    BOOL bUsed;
};

struct VDS_HINTS {
    ULONGLONG ullHintMask;
    ULONGLONG ullExpectedMaximumSize;
    ULONG ulOptimalReadSize;
    ULONG ulOptimalReadAlignment;
    ULONG ulOptimalWriteSize;
    ULONG ulOptimalWriteAlignment;
    ULONG ulMaximumDriveCount;
    ULONG ulStripeSize;
    BOOL bFastCrashRecoveryRequired;
    BOOL bMostlyReads;
    BOOL bOptimizeForSequentialReads;
    BOOL bOptimizeForSequentialWrites;
    BOOL bRemapEnabled;
    BOOL bReadBackVerifyEnabled;
    BOOL bWriteThroughCachingEnabled;
    BOOL bHardwareChecksumEnabled;
    BOOL bIsYankable;
    SHORT sRebuildPriority;
};

struct VDS_STORAGE_IDENTIFIER {
    VDS_STORAGE_IDENTIFIER_CODE_SET m_CodeSet;
    VDS_STORAGE_IDENTIFIER_TYPE m_Type;
    ULONG m_cbIdentifier;
    BYTE* m_rgbIdentifier;
};

struct VDS_STORAGE_DEVICE_ID_DESCRIPTOR {
    ULONG m_version;
    ULONG m_cIdentifiers;
    VDS_STORAGE_IDENTIFIER* m_rgIdentifiers;
};

struct VDS_INTERCONNECT {
    VDS_INTERCONNECT_ADDRESS_TYPE m_addressType;
    ULONG m_cbPort;
    BYTE* m_pbPort;
    ULONG m_cbAddress;
    BYTE* m_pbAddress;
};

struct VDS_LUN_INFORMATION {
    ULONG m_version;
    BYTE m_DeviceType;
    BYTE m_DeviceTypeModifier;
    BOOL m_bCommandQueueing;
    VDS_STORAGE_BUS_TYPE m_BusType;
    char* m_szVendorId;
    char* m_szProductId;
    char* m_szProductRevision;
    char* m_szSerialNumber;
    GUID m_diskSignature;
    VDS_STORAGE_DEVICE_ID_DESCRIPTOR m_deviceIdDescriptor;
    ULONG m_cInterconnects;
    VDS_INTERCONNECT* m_rgInterconnects;
};

struct VDS_WWN {
    UCHAR rguchWwn[8];
};

struct VDS_HBAPORT_PROP {
    VDS_OBJECT_ID id;
    VDS_WWN wwnNode;
    VDS_WWN wwnPort;
    VDS_HBAPORT_TYPE type;
    VDS_HBAPORT_STATUS status;
    ULONG ulPortSpeed;
    ULONG ulSupportedPortSpeed;
};

struct VDS_PATH_ID {
    ULONGLONG ullSourceId;
    ULONGLONG ullPathId;
};

struct VDS_IPADDRESS {
    VDS_IPADDRESS_TYPE type;
    ULONG ipv4Address;
    UCHAR ipv6Address[16];
    ULONG ulIpv6FlowInfo;
    ULONG ulIpv6ScopeId;
    WCHAR wszTextAddress[256 + 1];
    ULONG ulPort;
};

struct VDS_PATH_INFO {
    VDS_PATH_ID pathId;
    VDS_HWPROVIDER_TYPE type;
    VDS_PATH_STATUS status;
    union {
        VDS_OBJECT_ID controllerPortId;
        VDS_OBJECT_ID targetPortalId;
    };
    union {
        VDS_OBJECT_ID hbaPortId;
        VDS_OBJECT_ID initiatorAdapterId;
    };
    union {
        VDS_HBAPORT_PROP* pHbaPortProp;
        VDS_IPADDRESS* pInitiatorPortalIpAddr;
    };
};

struct VDS_PATH_POLICY {
    VDS_PATH_ID pathId;
    BOOL bPrimaryPath;
    ULONG ulWeight;
};

struct VDS_ISCSI_TARGET_PROP {
    VDS_OBJECT_ID id;
    LPWSTR pwszIscsiName;
    LPWSTR pwszFriendlyName;
    BOOL bChapEnabled;
};

struct VDS_ISCSI_PORTAL_PROP {
    VDS_OBJECT_ID id;
    VDS_IPADDRESS address;
    VDS_ISCSI_PORTAL_STATUS status;
};

struct VDS_ISCSI_PORTALGROUP_PROP {
    VDS_OBJECT_ID id;
    USHORT tag;
};

struct VDS_ISCSI_SHARED_SECRET {
    UCHAR* pSharedSecret;
    ULONG ulSharedSecretSize;
};

struct VDS_ISCSI_IPSEC_KEY {
    UCHAR* pKey;
    ULONG ulKeySize;
};

// The per-target members of a notification. The provider fills the ones of
// its objects; the volume and partition members are declared because they
// give the union its published size and alignment.
struct VDS_SUB_SYSTEM_NOTIFICATION {
    ULONG ulEvent;
    VDS_OBJECT_ID subSystemId;
};
struct VDS_CONTROLLER_NOTIFICATION {
    ULONG ulEvent;
    VDS_OBJECT_ID controllerId;
};
struct VDS_DRIVE_NOTIFICATION {
    ULONG ulEvent;
    VDS_OBJECT_ID driveId;
};
struct VDS_LUN_NOTIFICATION {
    ULONG ulEvent;
    VDS_OBJECT_ID LunId;
};
struct VDS_PORT_NOTIFICATION {
    ULONG ulEvent;
    VDS_OBJECT_ID portId;
};
struct VDS_PORTAL_NOTIFICATION {
    ULONG ulEvent;
    VDS_OBJECT_ID portalId;
};
struct VDS_TARGET_NOTIFICATION {
    ULONG ulEvent;
    VDS_OBJECT_ID targetId;
};
struct VDS_PORTAL_GROUP_NOTIFICATION {
    ULONG ulEvent;
    VDS_OBJECT_ID portalGroupId;
};
struct VDS_VOLUME_NOTIFICATION {
    ULONG ulEvent;
    VDS_OBJECT_ID volumeId;
    VDS_OBJECT_ID plexId;
    ULONG ulPercentCompleted;
};
struct VDS_PARTITION_NOTIFICATION {
    ULONG ulEvent;
    VDS_OBJECT_ID diskId;
    ULONGLONG ullOffset;
};

struct VDS_NOTIFICATION {
    VDS_NOTIFICATION_TARGET_TYPE objectType;
    union {
        VDS_VOLUME_NOTIFICATION Volume;
        VDS_PARTITION_NOTIFICATION Partition;
        VDS_SUB_SYSTEM_NOTIFICATION SubSystem;
        VDS_CONTROLLER_NOTIFICATION Controller;
        VDS_DRIVE_NOTIFICATION Drive;
        VDS_LUN_NOTIFICATION Lun;
        VDS_PORT_NOTIFICATION Port;
        VDS_PORTAL_NOTIFICATION Portal;
        VDS_TARGET_NOTIFICATION Target;
        VDS_PORTAL_GROUP_NOTIFICATION PortalGroup;
    };
};

struct VDS_ASYNC_OUTPUT {
    VDS_ASYNC_OUTPUT_TYPE type;
    union {
        struct {
            ULONGLONG ullOffset;
            VDS_OBJECT_ID volumeId;
        } cp;
        struct {
            IUnknown* pVolumeUnk;
        } cv;
        struct {
            IUnknown* pVolumeUnk;
        } bvp;
        struct {
            ULONGLONG ullReclaimedBytes;
        } sv;
        struct {
            IUnknown* pLunUnk;
        } cl;
        struct {
            IUnknown* pTargetUnk;
        } ct;
        struct {
            IUnknown* pPortalGroupUnk;
        } cpg;
    };
};

static_assert(sizeof(VDS_PROVIDER_PROP) == 64);
static_assert(sizeof(VDS_SUB_SYSTEM_PROP) == 56);
static_assert(sizeof(VDS_LUN_PROP) == 72);
static_assert(sizeof(VDS_DRIVE_PROP) == 56);
static_assert(sizeof(VDS_CONTROLLER_PROP) == 48);
static_assert(sizeof(VDS_PORT_PROP) == 40);
static_assert(sizeof(VDS_LUN_PLEX_PROP) == 56);
static_assert(sizeof(VDS_DRIVE_EXTENT) == 48);
static_assert(sizeof(VDS_HINTS) == 80);
static_assert(sizeof(VDS_STORAGE_IDENTIFIER) == 24);
static_assert(sizeof(VDS_STORAGE_DEVICE_ID_DESCRIPTOR) == 16);
static_assert(sizeof(VDS_INTERCONNECT) == 32);
static_assert(sizeof(VDS_LUN_INFORMATION) == 96);
static_assert(offsetof(VDS_LUN_INFORMATION, m_diskSignature) == 48);
static_assert(sizeof(VDS_WWN) == 8);
static_assert(sizeof(VDS_HBAPORT_PROP) == 48);
static_assert(sizeof(VDS_PATH_ID) == 16);
static_assert(sizeof(VDS_IPADDRESS) == 552);
static_assert(offsetof(VDS_IPADDRESS, ulPort) == 548);
static_assert(sizeof(VDS_PATH_INFO) == 64);
static_assert(sizeof(VDS_PATH_POLICY) == 24);
static_assert(sizeof(VDS_ISCSI_TARGET_PROP) == 40);
static_assert(sizeof(VDS_ISCSI_PORTAL_PROP) == 572);
static_assert(sizeof(VDS_ISCSI_PORTALGROUP_PROP) == 20);
static_assert(sizeof(VDS_ISCSI_SHARED_SECRET) == 16);
static_assert(sizeof(VDS_ISCSI_IPSEC_KEY) == 16);
static_assert(sizeof(VDS_NOTIFICATION) == 48);
static_assert(offsetof(VDS_NOTIFICATION, Lun.ulEvent) == 8);
static_assert(offsetof(VDS_NOTIFICATION, Lun.LunId) == 12);
static_assert(sizeof(VDS_ASYNC_OUTPUT) == 32);
static_assert(offsetof(VDS_ASYNC_OUTPUT, cl.pLunUnk) == 8);

// ---- Interfaces ---------------------------------------------------------------
// Methods in published vtable order after IUnknown.

struct IVdsProvider;
struct IVdsSubSystem;
struct IVdsController;
struct IVdsDrive;
struct IVdsLun;
struct IVdsIscsiTarget;
struct IVdsAsync;
struct IEnumVdsObject;

struct IEnumVdsObject : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, IUnknown** ppObjectArray, ULONG* pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumVdsObject** ppEnum) = 0;

protected:
    ~IEnumVdsObject() = default;
};

struct IVdsAsync : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE Wait(HRESULT* pHrResult, VDS_ASYNC_OUTPUT* pAsyncOut) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryStatus(HRESULT* pHrResult, ULONG* pulPercentCompleted) = 0;

protected:
    ~IVdsAsync() = default;
};

struct IVdsAdviseSink : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnNotify(LONG lNumberOfNotifications, VDS_NOTIFICATION* pNotificationArray) = 0;

protected:
    ~IVdsAdviseSink() = default;
};

struct IVdsProvider : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_PROVIDER_PROP* pProviderProp) = 0;

protected:
    ~IVdsProvider() = default;
};

struct IVdsHwProvider : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QuerySubSystems(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reenumerate() = 0;
    virtual HRESULT STDMETHODCALLTYPE Refresh() = 0;

protected:
    ~IVdsHwProvider() = default;
};

struct IVdsProviderPrivate : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetObject(VDS_OBJECT_ID ObjectId, VDS_OBJECT_TYPE type,
                                                IUnknown** ppObjectUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnLoad(LPWSTR pwszMachineName, IUnknown* pCallbackObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnUnload(BOOL bForceUnload) = 0;

protected:
    ~IVdsProviderPrivate() = default;
};

struct IVdsHwProviderPrivate : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryIfCreatedLun(LPWSTR pwszDevicePath, VDS_LUN_INFORMATION* pVdsLunInformation,
                                                        VDS_OBJECT_ID* pLunId) = 0;

protected:
    ~IVdsHwProviderPrivate() = default;
};

struct IVdsHwProviderPrivateMpio : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetAllPathStatusesFromHbaPort(VDS_HBAPORT_PROP hbaPortProp,
                                                                    VDS_PATH_STATUS status) = 0;

protected:
    ~IVdsHwProviderPrivateMpio() = default;
};

struct IVdsHwProviderType : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProviderType(VDS_HWPROVIDER_TYPE* pType) = 0;

protected:
    ~IVdsHwProviderType() = default;
};

struct IVdsProviderSupport : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetVersionSupport(ULONG* ulVersionSupport) = 0;

protected:
    ~IVdsProviderSupport() = default;
};

struct IVdsSubSystem : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_SUB_SYSTEM_PROP* pSubSystemProp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProvider(IVdsProvider** ppProvider) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryControllers(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryLuns(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDrives(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDrive(SHORT sBusNumber, SHORT sSlotNumber, IVdsDrive** ppDrive) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reenumerate() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetControllerStatus(VDS_OBJECT_ID* pOnlineControllerIdArray,
                                                          LONG lNumberOfOnlineControllers,
                                                          VDS_OBJECT_ID* pOfflineControllerIdArray,
                                                          LONG lNumberOfOfflineControllers) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateLun(VDS_LUN_TYPE type, ULONGLONG ullSizeInBytes,
                                                VDS_OBJECT_ID* pDriveIdArray, LONG lNumberOfDrives,
                                                LPWSTR pwszUnmaskingList, VDS_HINTS* pHints, IVdsAsync** ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReplaceDrive(VDS_OBJECT_ID DriveToBeReplaced, VDS_OBJECT_ID ReplacementDrive) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStatus(VDS_SUB_SYSTEM_STATUS status) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryMaxLunCreateSize(VDS_LUN_TYPE type, VDS_OBJECT_ID* pDriveIdArray,
                                                            LONG lNumberOfDrives, VDS_HINTS* pHints,
                                                            ULONGLONG* pullMaxLunSize) = 0;

protected:
    ~IVdsSubSystem() = default;
};

struct IVdsSubSystemIscsi : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryTargets(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPortals(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateTarget(LPWSTR pwszIscsiName, LPWSTR pwszFriendlyName,
                                                   IVdsAsync** ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIpsecGroupPresharedKey(VDS_ISCSI_IPSEC_KEY* pIpsecKey) = 0;

protected:
    ~IVdsSubSystemIscsi() = default;
};

struct IVdsSubSystemNaming : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFriendlyName(LPWSTR pwszFriendlyName) = 0;

protected:
    ~IVdsSubSystemNaming() = default;
};

struct IVdsMaintenance : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE StartMaintenance(VDS_MAINTENANCE_OPERATION operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE StopMaintenance(VDS_MAINTENANCE_OPERATION operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE PulseMaintenance(VDS_MAINTENANCE_OPERATION operation, ULONG ulCount) = 0;

protected:
    ~IVdsMaintenance() = default;
};

struct IVdsLun : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_LUN_PROP* pLunProp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubSystem(IVdsSubSystem** ppSubSystem) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIdentificationData(VDS_LUN_INFORMATION* pLunInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryActiveControllers(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE Extend(ULONGLONG ullNumberOfBytesToAdd, VDS_OBJECT_ID* pDriveIdArray,
                                             LONG lNumberOfDrives, IVdsAsync** ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE Shrink(ULONGLONG ullNumberOfBytesToRemove, IVdsAsync** ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPlexes(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddPlex(VDS_OBJECT_ID lunId, IVdsAsync** ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemovePlex(VDS_OBJECT_ID plexId, IVdsAsync** ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE Recover(IVdsAsync** ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMask(LPWSTR pwszUnmaskingList) = 0;
    virtual HRESULT STDMETHODCALLTYPE Delete() = 0;
    virtual HRESULT STDMETHODCALLTYPE AssociateControllers(VDS_OBJECT_ID* pActiveControllerIdArray,
                                                           LONG lNumberOfActiveControllers,
                                                           VDS_OBJECT_ID* pInactiveControllerIdArray,
                                                           LONG lNumberOfInactiveControllers) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryHints(VDS_HINTS* pHints) = 0;
    virtual HRESULT STDMETHODCALLTYPE ApplyHints(VDS_HINTS* pHints) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStatus(VDS_LUN_STATUS status) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryMaxLunExtendSize(VDS_OBJECT_ID* pDriveIdArray, LONG lNumberOfDrives,
                                                            ULONGLONG* pullMaxBytesToBeAdded) = 0;

protected:
    ~IVdsLun() = default;
};

struct IVdsLunIscsi : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AssociateTargets(VDS_OBJECT_ID* pTargetIdArray, LONG lNumberOfTargets) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAssociatedTargets(IEnumVdsObject** ppEnum) = 0;

protected:
    ~IVdsLunIscsi() = default;
};

struct IVdsLunNaming : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFriendlyName(LPWSTR pwszFriendlyName) = 0;

protected:
    ~IVdsLunNaming() = default;
};

struct IVdsLunControllerPorts : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AssociateControllerPorts(VDS_OBJECT_ID* pActiveControllerPortIdArray,
                                                               LONG lNumberOfActiveControllerPorts,
                                                               VDS_OBJECT_ID* pInactiveControllerPortIdArray,
                                                               LONG lNumberOfInactiveControllerPorts) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryActiveControllerPorts(IEnumVdsObject** ppEnum) = 0;

protected:
    ~IVdsLunControllerPorts() = default;
};

struct IVdsLunMpio : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPathInfo(VDS_PATH_INFO** ppPaths, LONG* plNumberOfPaths) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM* pPolicy,
                                                           VDS_PATH_POLICY** ppPaths, LONG* plNumberOfPaths) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLoadBalancePolicy(VDS_LOADBALANCE_POLICY_ENUM policy,
                                                           VDS_PATH_POLICY* pPaths, LONG lNumberOfPaths) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSupportedLbPolicies(ULONG* pulLbFlags) = 0;

protected:
    ~IVdsLunMpio() = default;
};

struct IVdsController : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_CONTROLLER_PROP* pControllerProp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubSystem(IVdsSubSystem** ppSubSystem) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPortProperties(SHORT sPortNumber, VDS_PORT_PROP* pPortProp) = 0;
    virtual HRESULT STDMETHODCALLTYPE FlushCache() = 0;
    virtual HRESULT STDMETHODCALLTYPE InvalidateCache() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAssociatedLuns(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStatus(VDS_CONTROLLER_STATUS status) = 0;

protected:
    ~IVdsController() = default;
};

struct IVdsControllerControllerPort : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryControllerPorts(IEnumVdsObject** ppEnum) = 0;

protected:
    ~IVdsControllerControllerPort() = default;
};

struct IVdsControllerPort : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_PORT_PROP* pPortProp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetController(IVdsController** ppController) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAssociatedLuns(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStatus(VDS_PORT_STATUS status) = 0;

protected:
    ~IVdsControllerPort() = default;
};

struct IVdsLunPlex : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_LUN_PLEX_PROP* pPlexProp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLun(IVdsLun** ppLun) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryExtents(VDS_DRIVE_EXTENT** ppExtentArray, LONG* plNumberOfExtents) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryHints(VDS_HINTS* pHints) = 0;
    virtual HRESULT STDMETHODCALLTYPE ApplyHints(VDS_HINTS* pHints) = 0;

protected:
    ~IVdsLunPlex() = default;
};

struct IVdsDrive : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_DRIVE_PROP* pDriveProp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubSystem(IVdsSubSystem** ppSubSystem) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryExtents(VDS_DRIVE_EXTENT** ppExtentArray, LONG* plNumberOfExtents) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFlags(ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearFlags(ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStatus(VDS_DRIVE_STATUS status) = 0;

protected:
    ~IVdsDrive() = default;
};

struct IVdsIscsiTarget : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_ISCSI_TARGET_PROP* pTargetProp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubSystem(IVdsSubSystem** ppSubSystem) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPortalGroups(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAssociatedLuns(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreatePortalGroup(IVdsAsync** ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE Delete(IVdsAsync** ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFriendlyName(LPWSTR pwszFriendlyName) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSharedSecret(VDS_ISCSI_SHARED_SECRET* pTargetSharedSecret,
                                                      LPWSTR pwszInitiatorName) = 0;
    virtual HRESULT STDMETHODCALLTYPE RememberInitiatorSharedSecret(LPWSTR pwszInitiatorName,
                                                                    VDS_ISCSI_SHARED_SECRET* pInitiatorSharedSecret) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectedInitiators(LPWSTR** pppwszInitiatorList,
                                                             LONG* plNumberOfInitiators) = 0;

protected:
    ~IVdsIscsiTarget() = default;
};

struct IVdsIscsiPortal : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_ISCSI_PORTAL_PROP* pPortalProp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubSystem(IVdsSubSystem** ppSubSystem) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAssociatedPortalGroups(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStatus(VDS_ISCSI_PORTAL_STATUS status) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIpsecTunnelAddress(VDS_IPADDRESS* pTunnelAddress,
                                                            VDS_IPADDRESS* pDestinationAddress) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIpsecSecurity(VDS_IPADDRESS* pInitiatorPortalAddress,
                                                       ULONGLONG* pullSecurityFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIpsecSecurity(VDS_IPADDRESS* pInitiatorPortalAddress,
                                                       ULONGLONG ullSecurityFlags, VDS_ISCSI_IPSEC_KEY* pIpsecKey) = 0;

protected:
    ~IVdsIscsiPortal() = default;
};

struct IVdsIscsiPortalGroup : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(VDS_ISCSI_PORTALGROUP_PROP* pPortalGroupProp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTarget(IVdsIscsiTarget** ppTarget) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAssociatedPortals(IEnumVdsObject** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddPortal(VDS_OBJECT_ID portalId, IVdsAsync** ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemovePortal(VDS_OBJECT_ID portalId, IVdsAsync** ppAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE Delete(IVdsAsync** ppAsync) = 0;

protected:
    ~IVdsIscsiPortalGroup() = default;
};

struct IVdsAdmin : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterProvider(VDS_OBJECT_ID providerId, CLSID providerClsid,
                                                       LPWSTR pwszName, VDS_PROVIDER_TYPE type,
                                                       LPWSTR pwszMachineName, LPWSTR pwszVersion,
                                                       GUID guidVersionId) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterProvider(VDS_OBJECT_ID providerId) = 0;

protected:
    ~IVdsAdmin() = default;
};

// ---- Interface and class ids (ours: nothing outside the project checks them) ----

DEFINE_GUID(IID_IVdsProvider, 0xe45fc329, 0x3714, 0x47f9, 0xb0, 0xee, 0x72, 0x57, 0xbe, 0x21, 0x91, 0xcb);
DEFINE_GUID(IID_IVdsHwProvider, 0x78d64be1, 0xc662, 0x4098, 0xba, 0x2e, 0xfb, 0x1d, 0xaa, 0xda, 0x2c, 0xb3);
DEFINE_GUID(IID_IVdsProviderPrivate, 0x19247b59, 0xeeec, 0x4489, 0x98, 0xac, 0x47, 0x05, 0xd6, 0x45, 0x3d, 0x61);
DEFINE_GUID(IID_IVdsHwProviderPrivate, 0x10130e01, 0x18f6, 0x485f, 0x88, 0xc3, 0xed, 0x8e, 0x00, 0x9d, 0xf4, 0xc5);
DEFINE_GUID(IID_IVdsHwProviderPrivateMpio, 0x4fd6d792, 0xed9c, 0x4e39, 0x86, 0x4e, 0x04, 0x89, 0x3d, 0x6d, 0x11, 0x20);
DEFINE_GUID(IID_IVdsHwProviderType, 0x8bfe96cd, 0xb68f, 0x470a, 0x97, 0x90, 0xe5, 0xa2, 0xfa, 0x70, 0x22, 0xef);
DEFINE_GUID(IID_IVdsProviderSupport, 0xa6b97949, 0x2500, 0x42a7, 0x93, 0xca, 0x53, 0xd8, 0x90, 0x2f, 0x03, 0x1e);
DEFINE_GUID(IID_IVdsSubSystem, 0xf493a4a2, 0x6a62, 0x4451, 0xb7, 0x5e, 0x22, 0x43, 0xf1, 0x3b, 0x10, 0x9c);
DEFINE_GUID(IID_IVdsSubSystemIscsi, 0xb8f9f7ad, 0x00df, 0x4b71, 0xba, 0x58, 0x81, 0x45, 0x60, 0x3a, 0xf3, 0x6c);
DEFINE_GUID(IID_IVdsSubSystemNaming, 0xedb2b44a, 0x9072, 0x4f66, 0x91, 0x9d, 0x8b, 0x36, 0x28, 0x18, 0xea, 0xeb);
DEFINE_GUID(IID_IVdsMaintenance, 0x0e368667, 0x8edb, 0x48b8, 0xae, 0x0a, 0x73, 0x62, 0xc9, 0x03, 0xfe, 0x34);
DEFINE_GUID(IID_IVdsLun, 0xfc190083, 0x03c8, 0x453b, 0xa5, 0x19, 0x91, 0xa2, 0x1c, 0xb9, 0x75, 0xa5);
DEFINE_GUID(IID_IVdsLunIscsi, 0x63a31c99, 0xe282, 0x44a7, 0x9b, 0x00, 0x7e, 0x65, 0x6b, 0x96, 0x7a, 0x97);
DEFINE_GUID(IID_IVdsLunNaming, 0x2801c740, 0x8451, 0x4d8a, 0xaf, 0xe2, 0x74, 0xbb, 0x98, 0x9c, 0xac, 0x4c);
DEFINE_GUID(IID_IVdsLunControllerPorts, 0xb69b1949, 0xb563, 0x4b57, 0xb6, 0x57, 0x54, 0x42, 0xc0, 0x0f, 0x18, 0x17);
DEFINE_GUID(IID_IVdsLunMpio, 0xd2b0d499, 0x6308, 0x4daa, 0xa7, 0xe2, 0x3c, 0x17, 0xfa, 0x2f, 0xcf, 0x7b);
DEFINE_GUID(IID_IVdsController, 0x7143253c, 0xa738, 0x4f37, 0xb1, 0xb8, 0xb7, 0x2f, 0x33, 0x45, 0x78, 0x82);
DEFINE_GUID(IID_IVdsControllerControllerPort, 0x8a6e8a01, 0xa90d, 0x45d7, 0xaf, 0xde, 0x2f, 0x0b, 0x35, 0xc7, 0x81, 0x5c);
DEFINE_GUID(IID_IVdsControllerPort, 0x0af2b336, 0xcb73, 0x428b, 0x82, 0xdf, 0x27, 0x10, 0x58, 0xd1, 0x74, 0x69);
DEFINE_GUID(IID_IVdsLunPlex, 0xae49ed48, 0x2424, 0x459a, 0x8f, 0x3a, 0x7a, 0xbf, 0x7c, 0xbd, 0x1f, 0x72);
DEFINE_GUID(IID_IVdsDrive, 0x58f53c85, 0xd270, 0x46fd, 0xb4, 0xb6, 0x5a, 0x31, 0x86, 0x2d, 0x23, 0xe7);
DEFINE_GUID(IID_IVdsIscsiTarget, 0x9a0e76b2, 0x3256, 0x4988, 0xbd, 0xf4, 0xa7, 0x6e, 0xce, 0x03, 0xc2, 0x14);
DEFINE_GUID(IID_IVdsIscsiPortal, 0x9b78556d, 0x8184, 0x49dd, 0x8b, 0x0c, 0x1b, 0xd7, 0xf6, 0x6c, 0x64, 0xc4);
DEFINE_GUID(IID_IVdsIscsiPortalGroup, 0xe2ac154f, 0xecbd, 0x4551, 0x86, 0xc5, 0x19, 0x7a, 0x4d, 0xca, 0x5e, 0x1b);
DEFINE_GUID(IID_IVdsAsync, 0x8ffada50, 0x7961, 0x4a0e, 0xad, 0x4e, 0xb9, 0x1c, 0x83, 0x1a, 0x9e, 0x56);
DEFINE_GUID(IID_IEnumVdsObject, 0x7214f75a, 0xf173, 0x42ca, 0x9d, 0xec, 0x5d, 0x50, 0x78, 0x2f, 0x03, 0xcc);
DEFINE_GUID(IID_IVdsAdviseSink, 0x2f79d4ad, 0x9d27, 0x4ba2, 0xb8, 0xf3, 0x80, 0x9c, 0x3f, 0xe7, 0x3b, 0x36);
DEFINE_GUID(IID_IVdsAdmin, 0x2093fba2, 0x5c2d, 0x4a2f, 0x8f, 0x50, 0x32, 0x5b, 0x85, 0x05, 0xcd, 0xa0);
DEFINE_GUID(CLSID_VdsService, 0xd515662e, 0x8ef6, 0x48cd, 0x98, 0x3d, 0xb6, 0x9e, 0xc4, 0x05, 0xfe, 0xc8);

PLATFORM_INTERFACE_ID(IVdsProvider, IID_IVdsProvider);
PLATFORM_INTERFACE_ID(IVdsHwProvider, IID_IVdsHwProvider);
PLATFORM_INTERFACE_ID(IVdsProviderPrivate, IID_IVdsProviderPrivate);
PLATFORM_INTERFACE_ID(IVdsHwProviderPrivate, IID_IVdsHwProviderPrivate);
PLATFORM_INTERFACE_ID(IVdsHwProviderPrivateMpio, IID_IVdsHwProviderPrivateMpio);
PLATFORM_INTERFACE_ID(IVdsHwProviderType, IID_IVdsHwProviderType);
PLATFORM_INTERFACE_ID(IVdsProviderSupport, IID_IVdsProviderSupport);
PLATFORM_INTERFACE_ID(IVdsSubSystem, IID_IVdsSubSystem);
PLATFORM_INTERFACE_ID(IVdsSubSystemIscsi, IID_IVdsSubSystemIscsi);
PLATFORM_INTERFACE_ID(IVdsSubSystemNaming, IID_IVdsSubSystemNaming);
PLATFORM_INTERFACE_ID(IVdsMaintenance, IID_IVdsMaintenance);
PLATFORM_INTERFACE_ID(IVdsLun, IID_IVdsLun);
PLATFORM_INTERFACE_ID(IVdsLunIscsi, IID_IVdsLunIscsi);
PLATFORM_INTERFACE_ID(IVdsLunNaming, IID_IVdsLunNaming);
PLATFORM_INTERFACE_ID(IVdsLunControllerPorts, IID_IVdsLunControllerPorts);
PLATFORM_INTERFACE_ID(IVdsLunMpio, IID_IVdsLunMpio);
PLATFORM_INTERFACE_ID(IVdsController, IID_IVdsController);
PLATFORM_INTERFACE_ID(IVdsControllerControllerPort, IID_IVdsControllerControllerPort);
PLATFORM_INTERFACE_ID(IVdsControllerPort, IID_IVdsControllerPort);
PLATFORM_INTERFACE_ID(IVdsLunPlex, IID_IVdsLunPlex);
PLATFORM_INTERFACE_ID(IVdsDrive, IID_IVdsDrive);
PLATFORM_INTERFACE_ID(IVdsIscsiTarget, IID_IVdsIscsiTarget);
PLATFORM_INTERFACE_ID(IVdsIscsiPortal, IID_IVdsIscsiPortal);
PLATFORM_INTERFACE_ID(IVdsIscsiPortalGroup, IID_IVdsIscsiPortalGroup);
PLATFORM_INTERFACE_ID(IVdsAsync, IID_IVdsAsync);
PLATFORM_INTERFACE_ID(IEnumVdsObject, IID_IEnumVdsObject);
PLATFORM_INTERFACE_ID(IVdsAdviseSink, IID_IVdsAdviseSink);
PLATFORM_INTERFACE_ID(IVdsAdmin, IID_IVdsAdmin);
