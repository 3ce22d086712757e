#pragma once
// The host's iSCSI discovery library ("iscsidsc.dll", in tree as
// libsanprov_iscsidsc.so), loaded by name: the local initiator's node name,
// the list of the host's initiators and the registration of a static target.
// Every entry returns a status: 0 for success, else a Win32 error or one of
// the library's own ISDSC_ codes (its message table holds their texts).
//
// On this platform the initiator is open-iscsi's: its node name is the
// "InitiatorName=" line of /etc/iscsi/initiatorname.iscsi (the environment
// variable SANPROV_ISCSI_INITIATOR_NAME_FILE names another file), the host has
// one initiator, the software one, when that name is set, and static targets
// are recorded as files under $SANPROV_ROOT/iscsi/static-targets/, one per
// target node name. The library never runs iscsiadm.
#include <platform/types.h>

using ISDSC_STATUS = ULONG;
using ISCSI_TARGET_FLAGS = ULONG;
using BOOLEAN = UCHAR;

inline constexpr ISDSC_STATUS ISDSC_NON_SPECIFIC_ERROR = 0xEFFF0001;
inline constexpr ISDSC_STATUS ISDSC_INITIATOR_NODE_NOT_FOUND = 0xEFFF0005;

// Longest node name in characters; a name buffer holds it and its terminator.
inline constexpr ULONG MAX_ISCSI_NAME_LEN = 223;

inline constexpr ISCSI_TARGET_FLAGS ISCSI_TARGET_FLAG_HIDE_STATIC_TARGET = 0x2;
inline constexpr ISCSI_TARGET_FLAGS ISCSI_TARGET_FLAG_MERGE_TARGET_INFORMATION = 0x4;

// The name of the one initiator this platform reports.
inline constexpr const WCHAR* ISCSI_SOFTWARE_INITIATOR_NAME = u"iscsi_tcp";

// Mappings, login options and portal groups are passed through as opaque
// records: this provider registers its target without them (null).
struct ISCSI_TARGET_MAPPINGW;
struct ISCSI_LOGIN_OPTIONS;
struct ISCSI_TARGET_PORTAL_GROUPW;

extern "C" {
// Writes the node name and its terminator into a buffer of at least
// MAX_ISCSI_NAME_LEN + 1 characters. ISDSC_INITIATOR_NODE_NOT_FOUND when no
// name is configured.
using GetIScsiInitiatorNodeNameW_fn = ISDSC_STATUS (*)(WCHAR* initiatorNodeName);
// The initiators as a list of terminated names ended by an empty one.
// *bufferSize is in characters; a buffer too small (or null) gets
// ERROR_INSUFFICIENT_BUFFER with *bufferSize set to what is needed.
using ReportIScsiInitiatorListW_fn = ISDSC_STATUS (*)(ULONG* bufferSize, WCHAR* buffer);
// Records the target (a second registration of the same name replaces the first).
using AddIScsiStaticTargetW_fn = ISDSC_STATUS (*)(const WCHAR* targetName, const WCHAR* targetAlias,
                                                  ISCSI_TARGET_FLAGS targetFlags, BOOLEAN persist,
                                                  ISCSI_TARGET_MAPPINGW* mappings, ISCSI_LOGIN_OPTIONS* loginOptions,
                                                  ISCSI_TARGET_PORTAL_GROUPW* portalGroup);
}
