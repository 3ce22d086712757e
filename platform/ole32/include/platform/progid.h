#pragma once
// The ProgID a class is registered under: the default value of
// HKEY_CLASSES_ROOT\CLSID\{clsid}\ProgID.
#include <platform/guid.h>
#include <platform/types.h>

// A CoTaskMem copy of the ProgID (the caller frees it with CoTaskMemFree), or
// REGDB_E_CLASSNOTREG with null when the class or its ProgID is not registered.
HRESULT ProgIDFromCLSID(REFCLSID clsid, WCHAR** progId);
