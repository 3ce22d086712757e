#pragma once
// The registration the program writes under HKEY_CLASSES_ROOT: the service's
// AppID (script 101) and one script per served class (102 FC provider, 103
// iSCSI provider, 104 administration).
#include <platform/unknown.h>
#include <platform/types.h>

#include <string>

DEFINE_GUID(APPID_SanProvD, 0x5a5f19c6, 0x51c5, 0x42eb, 0x9f, 0xa2, 0x7c, 0x6f, 0xdf, 0x8d, 0xb0, 0x8d);

inline constexpr UINT IDR_APPID = 101;
inline constexpr UINT IDR_PROVIDER_FC = 102;
inline constexpr UINT IDR_PROVIDER_ISCSI = 103;
inline constexpr UINT IDR_PROVIDER_ADMIN = 104;

// Writes (bRegister) or removes the script's keys; %MODULE% is `modulePath`.
// Keys marked never removed (AppID, CLSID) stay.
HRESULT UpdateRegistryFromResource(UINT id, bool bRegister, const std::u16string& modulePath);
