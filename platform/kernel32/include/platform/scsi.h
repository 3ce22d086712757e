#pragma once
// SCSI adapters as the host's storage stack shows them: "\\.\Scsi<n>:" names
// the n-th of the SCSI hosts under /sys/class/scsi_host, counted from 0 in
// ascending order of host number (host2 and host5 are Scsi0 and Scsi1), so a
// walk from 0 that stops at the first adapter that does not open sees every
// host. A bus rescan writes "- - -" to the host's scan file; the adapter's bus
// type and the inquiry data of its logical units come from sysfs. The sysfs
// root is "/sys" unless SANPROV_SYSFS_ROOT names another (tests build a fake
// tree).
#include <platform/errors.h>
#include <platform/handle.h>
#include <platform/types.h>

#include <cstddef>

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD OPEN_EXISTING = 3;

constexpr DWORD IOCTL_SCSI_GET_INQUIRY_DATA = 0x4100C;
constexpr DWORD IOCTL_SCSI_RESCAN_BUS = 0x4101C;
constexpr DWORD IOCTL_STORAGE_QUERY_PROPERTY = 0x2D1400;

enum STORAGE_PROPERTY_ID : int32_t { StorageDeviceProperty = 0, StorageAdapterProperty = 1 };
enum STORAGE_QUERY_TYPE : int32_t { PropertyStandardQuery = 0, PropertyExistsQuery = 1 };

enum STORAGE_BUS_TYPE : BYTE {
    BusTypeUnknown = 0,
    BusTypeScsi = 1,
    BusTypeAtapi = 2,
    BusTypeAta = 3,
    BusType1394 = 4,
    BusTypeSsa = 5,
    BusTypeFibre = 6,
    BusTypeUsb = 7,
    BusTypeRAID = 8,
    BusTypeiScsi = 9,
};

struct STORAGE_PROPERTY_QUERY {
    STORAGE_PROPERTY_ID PropertyId;
    STORAGE_QUERY_TYPE QueryType;
    UCHAR AdditionalParameters[1];
};
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);

struct STORAGE_ADAPTER_DESCRIPTOR {
    DWORD Version;
    DWORD Size;
    DWORD MaximumTransferLength;
    DWORD MaximumPhysicalPages;
    DWORD AlignmentMask;
    BYTE AdapterUsesPio;
    BYTE AdapterScansDown;
    BYTE CommandQueueing;
    BYTE AcceleratedTransfer;
    BYTE BusType;
    WORD BusMajorVersion;
    WORD BusMinorVersion;
};
static_assert(sizeof(STORAGE_ADAPTER_DESCRIPTOR) == 32);

struct SCSI_BUS_DATA {
    UCHAR NumberOfLogicalUnits;
    UCHAR InitiatorBusId;
    ULONG InquiryDataOffset;  // from the start of the output buffer; 0 when the bus has no unit
};
static_assert(sizeof(SCSI_BUS_DATA) == 8);

struct SCSI_ADAPTER_BUS_INFO {
    UCHAR NumberOfBuses;
    SCSI_BUS_DATA BusData[1];
};
static_assert(sizeof(SCSI_ADAPTER_BUS_INFO) == 12);

struct SCSI_INQUIRY_DATA {
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    BYTE DeviceClaimed;
    ULONG InquiryDataLength;
    ULONG NextInquiryDataOffset;  // from the start of the output buffer; 0 ends the bus
    UCHAR InquiryData[1];
};
static_assert(offsetof(SCSI_INQUIRY_DATA, InquiryData) == 12);

// Only "\\.\Scsi<n>:" names are known; anything else fails with ERROR_FILE_NOT_FOUND.
HANDLE CreateFileW(const WCHAR* name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);

// The three adapter requests above; other codes fail with ERROR_INVALID_FUNCTION,
// a short output buffer with ERROR_INSUFFICIENT_BUFFER, a handle that is no
// adapter with ERROR_INVALID_HANDLE. `overlapped` must be null.
BOOL DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                     void* overlapped);
