#pragma once
// The SNIA Fibre Channel HBA API as the host adapter calls it: the records,
// status and enumeration values and the entry points, declared by us in the
// published binary layout (the library is loaded by name at run time and is
// never linked).
#include <platform/types.h>

using HBA_UINT8 = uint8_t;
using HBA_UINT16 = uint16_t;
using HBA_UINT32 = uint32_t;
using HBA_UINT64 = uint64_t;
using HBA_INT64 = int64_t;

using HBA_HANDLE = HBA_UINT32;
using HBA_STATUS = HBA_UINT32;
using HBA_PORTTYPE = HBA_UINT32;
using HBA_PORTSTATE = HBA_UINT32;
using HBA_PORTSPEED = HBA_UINT32;
using HBA_COS = HBA_UINT32;

constexpr HBA_STATUS HBA_STATUS_OK = 0;
constexpr HBA_STATUS HBA_STATUS_ERROR = 1;
constexpr HBA_STATUS HBA_STATUS_ERROR_NOT_SUPPORTED = 2;
constexpr HBA_STATUS HBA_STATUS_ERROR_INVALID_HANDLE = 3;
constexpr HBA_STATUS HBA_STATUS_ERROR_ARG = 4;
constexpr HBA_STATUS HBA_STATUS_ERROR_ILLEGAL_WWN = 5;
constexpr HBA_STATUS HBA_STATUS_ERROR_ILLEGAL_INDEX = 6;
constexpr HBA_STATUS HBA_STATUS_ERROR_MORE_DATA = 7;
constexpr HBA_STATUS HBA_STATUS_ERROR_STALE_DATA = 8;
constexpr HBA_STATUS HBA_STATUS_ERROR_UNAVAILABLE = 12;
constexpr HBA_STATUS HBA_STATUS_ERROR_NOT_LOADED = 31;
constexpr HBA_STATUS HBA_STATUS_ERROR_ALREADY_LOADED = 32;

constexpr HBA_PORTTYPE HBA_PORTTYPE_UNKNOWN = 1;
constexpr HBA_PORTTYPE HBA_PORTTYPE_OTHER = 2;
constexpr HBA_PORTTYPE HBA_PORTTYPE_NOTPRESENT = 3;
constexpr HBA_PORTTYPE HBA_PORTTYPE_NPORT = 5;
constexpr HBA_PORTTYPE HBA_PORTTYPE_NLPORT = 6;
constexpr HBA_PORTTYPE HBA_PORTTYPE_FLPORT = 7;
constexpr HBA_PORTTYPE HBA_PORTTYPE_FPORT = 8;
constexpr HBA_PORTTYPE HBA_PORTTYPE_EPORT = 9;
constexpr HBA_PORTTYPE HBA_PORTTYPE_GPORT = 10;
constexpr HBA_PORTTYPE HBA_PORTTYPE_LPORT = 20;
constexpr HBA_PORTTYPE HBA_PORTTYPE_PTP = 21;

constexpr HBA_PORTSTATE HBA_PORTSTATE_UNKNOWN = 1;
constexpr HBA_PORTSTATE HBA_PORTSTATE_ONLINE = 2;
constexpr HBA_PORTSTATE HBA_PORTSTATE_OFFLINE = 3;
constexpr HBA_PORTSTATE HBA_PORTSTATE_BYPASSED = 4;
constexpr HBA_PORTSTATE HBA_PORTSTATE_DIAGNOSTICS = 5;
constexpr HBA_PORTSTATE HBA_PORTSTATE_LINKDOWN = 6;
constexpr HBA_PORTSTATE HBA_PORTSTATE_ERROR = 7;
constexpr HBA_PORTSTATE HBA_PORTSTATE_LOOPBACK = 8;

constexpr HBA_PORTSPEED HBA_PORTSPEED_UNKNOWN = 0;
constexpr HBA_PORTSPEED HBA_PORTSPEED_1GBIT = 1;
constexpr HBA_PORTSPEED HBA_PORTSPEED_2GBIT = 2;
constexpr HBA_PORTSPEED HBA_PORTSPEED_10GBIT = 4;
constexpr HBA_PORTSPEED HBA_PORTSPEED_4GBIT = 8;
constexpr HBA_PORTSPEED HBA_PORTSPEED_8GBIT = 0x10;
constexpr HBA_PORTSPEED HBA_PORTSPEED_16GBIT = 0x20;
constexpr HBA_PORTSPEED HBA_PORTSPEED_NOT_NEGOTIATED = 0x8000;

struct HBA_WWN {
    HBA_UINT8 wwn[8];
};
static_assert(sizeof(HBA_WWN) == 8);

struct HBA_FC4TYPES {
    HBA_UINT8 bits[32];
};
static_assert(sizeof(HBA_FC4TYPES) == 32);

struct HBA_ADAPTERATTRIBUTES {
    char Manufacturer[64];
    char SerialNumber[64];
    char Model[256];
    char ModelDescription[256];
    HBA_WWN NodeWWN;
    char NodeSymbolicName[256];
    char HardwareVersion[256];
    char DriverVersion[256];
    char OptionROMVersion[256];
    char FirmwareVersion[256];
    HBA_UINT32 VendorSpecificID;
    HBA_UINT32 NumberOfPorts;
    char DriverName[256];
};
using PHBA_ADAPTERATTRIBUTES = HBA_ADAPTERATTRIBUTES*;
static_assert(sizeof(HBA_ADAPTERATTRIBUTES) == 2192);
static_assert(offsetof(HBA_ADAPTERATTRIBUTES, NodeWWN) == 640);
static_assert(offsetof(HBA_ADAPTERATTRIBUTES, NumberOfPorts) == 1932);

struct HBA_PORTATTRIBUTES {
    HBA_WWN NodeWWN;
    HBA_WWN PortWWN;
    HBA_UINT32 PortFcId;
    HBA_PORTTYPE PortType;
    HBA_PORTSTATE PortState;
    HBA_COS PortSupportedClassofService;
    HBA_FC4TYPES PortSupportedFc4Types;
    HBA_FC4TYPES PortActiveFc4Types;
    char PortSymbolicName[256];
    char OSDeviceName[256];
    HBA_PORTSPEED PortSupportedSpeed;
    HBA_PORTSPEED PortSpeed;
    HBA_UINT32 PortMaxFrameSize;
    HBA_WWN FabricName;
    HBA_UINT32 NumberofDiscoveredPorts;
};
using PHBA_PORTATTRIBUTES = HBA_PORTATTRIBUTES*;
static_assert(sizeof(HBA_PORTATTRIBUTES) == 632);
static_assert(offsetof(HBA_PORTATTRIBUTES, OSDeviceName) == 352);
static_assert(offsetof(HBA_PORTATTRIBUTES, FabricName) == 620);

// Entry points by the library's exported names. The calls whose arguments the
// system never builds stay untyped.
using HBAGetVersionFunc = HBA_UINT32 (*)();
using HBALoadLibraryFunc = HBA_STATUS (*)();
using HBAFreeLibraryFunc = HBA_STATUS (*)();
using HBAGetNumberOfAdaptersFunc = HBA_UINT32 (*)();
using HBAGetAdapterNameFunc = HBA_STATUS (*)(HBA_UINT32 adapterIndex, char* adapterName);
using HBAOpenAdapterFunc = HBA_HANDLE (*)(char* adapterName);
using HBACloseAdapterFunc = void (*)(HBA_HANDLE handle);
using HBAGetAdapterAttributesFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* attributes);
using HBAGetAdapterPortAttributesFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_UINT32 portIndex,
                                                       HBA_PORTATTRIBUTES* attributes);
using HBARefreshInformationFunc = void (*)(HBA_HANDLE handle);
using HBAGetPortAttributesByWWNFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_WWN portWWN,
                                                     HBA_PORTATTRIBUTES* attributes);
using HBAUntypedFunc = void (*)();

// The published entry-point table of a version 1 library, in its order.
struct HBA_ENTRYPOINTS {
    HBAGetVersionFunc GetVersionHandler;
    HBALoadLibraryFunc LoadLibraryHandler;
    HBAFreeLibraryFunc FreeLibraryHandler;
    HBAGetNumberOfAdaptersFunc GetNumberOfAdaptersHandler;
    HBAGetAdapterNameFunc GetAdapterNameHandler;
    HBAOpenAdapterFunc OpenAdapterHandler;
    HBACloseAdapterFunc CloseAdapterHandler;
    HBAGetAdapterAttributesFunc GetAdapterAttributesHandler;
    HBAGetAdapterPortAttributesFunc GetAdapterPortAttributesHandler;
    HBAUntypedFunc GetPortStatisticsHandler;
    HBAUntypedFunc GetDiscoveredPortAttributesHandler;
    HBAGetPortAttributesByWWNFunc GetPortAttributesByWWNHandler;
    HBAUntypedFunc SendCTPassThruHandler;
    HBARefreshInformationFunc RefreshInformationHandler;
    HBAUntypedFunc ResetStatisticsHandler;
    HBAUntypedFunc GetFcpTargetMappingHandler;
    HBAUntypedFunc GetFcpPersistentBindingHandler;
    HBAUntypedFunc GetEventBufferHandler;
    HBAUntypedFunc SetRNIDMgmtInfoHandler;
    HBAUntypedFunc GetRNIDMgmtInfoHandler;
    HBAUntypedFunc SendRNIDHandler;
    HBAUntypedFunc ScsiInquiryHandler;
    HBAUntypedFunc ReportLUNsHandler;
    HBAUntypedFunc ReadCapacityHandler;
};
static_assert(sizeof(HBA_ENTRYPOINTS) == 24 * sizeof(void*));
