#pragma once
// Reading WMI property values in the forms WMI delivers them, and the walks
// over a class's instances that every MPIO reader makes.
#include <platform/com_scoped.h>
#include <platform/wbem.h>

#include <hostlib/mpio_readers.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hostlib::mpio {

using platform::ComRelease;
using ObjectRef = platform::com_unique_ptr<IWbemClassObject>;
// A BSTR made for one call, a VARIANT owned for one read.
using Bstr = platform::ScopedBstr;
using Variant = platform::ScopedVariant;

std::string narrow(std::u16string_view text);

// Reads a property; a failure is traced as "IWbemClassObject::Get(<name>) sc=%x".
bool GetProperty(IWbemClassObject* object, const WCHAR* name, Variant& value);

// Any integer form of 32 bits or fewer (WMI gives uint8 as VT_UI1 and 16- and
// 32-bit integers as VT_I4).
bool AsLong(const VARIANT& value, LONG& number);
// A 64-bit identifier: its decimal text, as WMI delivers 64-bit integers, or a
// 32-bit value (zero-extended: WMI's uint32 comes as VT_I4).
bool AsPathId(const VARIANT& value, ULONGLONG& id);
// Signed 64-bit text to number: blanks, a sign and at least one digit; the
// digits end at the first other character. Values up to 2^64 - 1 are kept.
bool ParseDecimal64(std::u16string_view text, ULONGLONG& number);
// The text VariantToText gives (a string in double quotes); empty when none.
std::u16string TextOf(const VARIANT& value);
// An embedded object.
ObjectRef AsObject(const VARIANT& value);
// The embedded objects of an array of them, at most `capacity`.
bool IsObjectArray(const VARIANT& value);
std::vector<ObjectRef> ObjectsOf(const VARIANT& value, size_t capacity);

// Copies text into a fixed field, cut to its capacity and always terminated.
template <size_t N>
void CopyText(WCHAR (&field)[N], std::u16string_view text) {
    const size_t length = std::min(text.size(), N - 1);
    std::copy_n(text.data(), length, field);
    std::fill(field + length, field + N, u'\0');
}

constexpr LONG kEnumerationFlags = WBEM_FLAG_SHALLOW | WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY;

// Opens an enumeration of a class; a failure is traced.
HRESULT EnumerateClass(IWbemServices* services, const WCHAR* className, std::unique_ptr<IEnumWbemClassObject, ComRelease>& enumerator);
// The next instance, or null at the end; `hr` tells why it ended.
ObjectRef NextInstance(IEnumWbemClassObject* enumerator, HRESULT& hr);

// Hands every instance of the class to `read` until one returns a status that
// is not 0, and returns that status; 0 when at least one instance was read;
// MPIO_WMI_NOT_FOUND when WMI does not serve the class; MPIO_WMI_ENUM_FAILED
// when the enumeration failed or held no instance.
template <typename Read>
ULONG ForEachInstance(IWbemServices* services, const WCHAR* className, Read&& read) {
    std::unique_ptr<IEnumWbemClassObject, ComRelease> enumerator;
    HRESULT hr = EnumerateClass(services, className, enumerator);
    if (FAILED(hr)) return hr == kWmiClassNotFound ? MPIO_WMI_NOT_FOUND : MPIO_WMI_ENUM_FAILED;
    ULONG instances = 0;
    while (ObjectRef instance = NextInstance(enumerator.get(), hr)) {
        ++instances;
        if (const ULONG status = read(instance.get())) return status;
    }
    if (instances > 0) return MPIO_STATUS_SUCCESS;
    return hr == kWmiClassNotFound ? MPIO_WMI_NOT_FOUND : MPIO_WMI_ENUM_FAILED;
}

// The first instance of a class: 0; MPIO_WMI_PROPERTY_FAILED when the class
// cannot be enumerated or holds none; MPIO_WMI_NOT_FOUND when the first fetch
// reports the class unknown.
ULONG FirstInstance(IWbemServices* services, const WCHAR* className, ObjectRef& instance);

}  // namespace hostlib::mpio
