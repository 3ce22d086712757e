#include "wmi_values.h"

#include <hostlib/trace.h>
#include <hostlib/variant_text.h>

#include <platform/text.h>

#include <cstdlib>
#include <limits>

namespace hostlib::mpio {

std::string narrow(std::u16string_view text) { return platform::wide_to_utf8_lossy(text); }

bool GetProperty(IWbemClassObject* object, const WCHAR* name, Variant& value) {
    VariantClear(&value.v);
    const HRESULT hr = object ? object->Get(name, 0, &value.v, nullptr, nullptr) : WBEM_E_INVALID_PARAMETER;
    if (FAILED(hr)) {
        trace_printf("IWbemClassObject::Get(%s) sc=%lx", narrow(name).c_str(), trace_code(hr));
        VariantInit(&value.v);
        return false;
    }
    return true;
}

bool AsLong(const VARIANT& value, LONG& number) {
    switch (value.vt) {
    case VT_I1: number = value.cVal; return true;
    case VT_UI1: number = value.bVal; return true;
    case VT_I2: number = value.iVal; return true;
    case VT_UI2: number = value.uiVal; return true;
    case VT_I4:
    case VT_INT: number = value.lVal; return true;
    case VT_UI4:
    case VT_UINT: number = static_cast<LONG>(value.ulVal); return true;
    default: return false;
    }
}

bool ParseDecimal64(std::u16string_view text, ULONGLONG& number) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    const size_t firstDigit = i;
    ULONGLONG value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const unsigned digit = text[i] - u'0';
        if (value > (std::numeric_limits<ULONGLONG>::max() - digit) / 10) return false;
        value = value * 10 + digit;
    }
    if (i == firstDigit) return false;
    if (negative && value > ULONGLONG(std::numeric_limits<LONGLONG>::max()) + 1) return false;
    number = negative ? ULONGLONG(0) - value : value;
    return true;
}

bool AsPathId(const VARIANT& value, ULONGLONG& id) {
    switch (value.vt) {
    case VT_BSTR:
        return ParseDecimal64(std::u16string_view(value.bstrVal ? value.bstrVal : u"", SysStringLen(value.bstrVal)), id);
    case VT_I8:
    case VT_UI8: id = value.ullVal; return true;
    default: {
        LONG number = 0;
        if (!AsLong(value, number)) return false;
        id = static_cast<ULONG>(number);
        return true;
    }
    }
}

std::u16string TextOf(const VARIANT& value) {
    WCHAR* text = nullptr;
    VariantToText(&value, &text);
    std::u16string result = text ? std::u16string(text) : std::u16string();
    std::free(text);
    return result;
}

ObjectRef AsObject(const VARIANT& value) {
    if (value.vt != VT_UNKNOWN || !value.punkVal) return {};
    IWbemClassObject* object = nullptr;
    if (FAILED(value.punkVal->QueryInterface(IID_PPV_ARGS(&object)))) return {};
    return ObjectRef(object);
}

bool IsObjectArray(const VARIANT& value) { return value.vt == (VT_ARRAY | VT_UNKNOWN) && value.parray; }

std::vector<ObjectRef> ObjectsOf(const VARIANT& value, size_t capacity) {
    std::vector<IUnknown*> slots(capacity, nullptr);
    static_assert(sizeof(IUnknown*) == 8, "SafeArrayToArray fills 8-byte slots");
    const size_t copied = capacity ? SafeArrayToArray(&value, slots.data(), capacity) : 0;
    std::vector<ObjectRef> objects;
    for (size_t i = 0; i < copied; ++i) {
        IWbemClassObject* object = nullptr;
        if (slots[i]) slots[i]->QueryInterface(IID_PPV_ARGS(&object));
        objects.emplace_back(object);
        if (slots[i]) slots[i]->Release();
    }
    return objects;
}

HRESULT EnumerateClass(IWbemServices* services, const WCHAR* className,
                       std::unique_ptr<IEnumWbemClassObject, ComRelease>& enumerator) {
    IEnumWbemClassObject* opened = nullptr;
    const HRESULT hr = services->CreateInstanceEnum(Bstr(className), kEnumerationFlags, nullptr, &opened);
    enumerator.reset(opened);
    if (FAILED(hr) || !opened) {
        trace_printf("IWbemServices::CreateInstanceEnum(%s) sc=%lx", narrow(className).c_str(),
                     trace_code(hr));
        return FAILED(hr) ? hr : WBEM_E_FAILED;
    }
    return hr;
}

ObjectRef NextInstance(IEnumWbemClassObject* enumerator, HRESULT& hr) {
    IWbemClassObject* object = nullptr;
    ULONG returned = 0;
    hr = enumerator->Next(WBEM_INFINITE, 1, &object, &returned);
    ObjectRef instance(object);
    if (FAILED(hr)) trace_printf("IEnumWbemClassObject::Next sc=%lx", trace_code(hr));
    return returned == 1 ? std::move(instance) : ObjectRef();
}

ULONG FirstInstance(IWbemServices* services, const WCHAR* className, ObjectRef& instance) {
    std::unique_ptr<IEnumWbemClassObject, ComRelease> enumerator;
    if (FAILED(EnumerateClass(services, className, enumerator))) return MPIO_WMI_PROPERTY_FAILED;
    HRESULT hr = S_OK;
    instance = NextInstance(enumerator.get(), hr);
    if (instance) return MPIO_STATUS_SUCCESS;
    trace_printf("%s::Next sc=%lx", narrow(className).c_str(), trace_code(hr));
    return hr == kWmiClassNotFound ? MPIO_WMI_NOT_FOUND : MPIO_WMI_PROPERTY_FAILED;
}

}  // namespace hostlib::mpio
