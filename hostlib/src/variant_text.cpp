#include <hostlib/variant_text.h>

#include <hostlib/wformat.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

using hostlib::wsprintf_typed;

// The elements of a one-dimensional array, or nothing when there is no array.
struct ArrayBounds {
    LONG lower = 0;
    LONG upper = -1;
    size_t count() const { return upper >= lower ? static_cast<size_t>(upper - lower) + 1 : 0; }
};

std::optional<ArrayBounds> bounds_of(SAFEARRAY* array) {
    ArrayBounds b;
    if (!array || FAILED(SafeArrayGetLBound(array, 1, &b.lower)) || FAILED(SafeArrayGetUBound(array, 1, &b.upper)))
        return std::nullopt;
    return b;
}

std::vector<SHORT> short_elements(SAFEARRAY* array) {
    std::vector<SHORT> values;
    const auto bounds = bounds_of(array);
    if (!bounds) return values;
    for (LONG i = bounds->lower; i <= bounds->upper; ++i) {
        SHORT v = 0;
        if (SUCCEEDED(SafeArrayGetElement(array, &i, &v))) values.push_back(v);
    }
    return values;
}

std::u16string short_array_text(SAFEARRAY* array) {
    const std::vector<SHORT> values = short_elements(array);
    if (values.empty()) return u"<empty array>";
    std::u16string text;
    for (size_t i = 0; i < values.size(); ++i) text += (i ? u"," : u"") + wsprintf_typed(u"%hd", values[i]);
    return text;
}

std::u16string unknown_array_text(SAFEARRAY* array) {
    const auto bounds = bounds_of(array);
    if (!bounds || !bounds->count()) return u"<empty>";
    std::u16string text;
    int index = 0;
    for (LONG i = bounds->lower; i <= bounds->upper; ++i, ++index) {
        IUnknown* element = nullptr;
        const bool present = SUCCEEDED(SafeArrayGetElement(array, &i, &element)) && element;
        text += wsprintf_typed(present ? u"%d element\t" : u"%d element is empty\t", index);
        if (element) element->Release();
    }
    return text;
}

// Characters, unless one is a control character: then each element's low byte
// as "%.02x:", up to the last non-zero element.
std::u16string short_array_as_characters(SAFEARRAY* array) {
    const std::vector<SHORT> values = short_elements(array);
    if (values.empty()) return u"<empty>";
    bool control = false;
    for (SHORT v : values) control = control || (v >= 1 && v <= 31);
    std::u16string text;
    if (!control) {
        for (SHORT v : values) text += wsprintf_typed(u"%c", v);
        return text;
    }
    size_t end = values.size();
    while (end > 0 && values[end - 1] == 0) --end;
    for (size_t i = 0; i < end; ++i) text += wsprintf_typed(u"%.02x:", values[i] & 0xFF);
    return text;
}

std::optional<std::u16string> describe(const VARIANT& v) {
    switch (v.vt) {
    case VT_NULL: return u"<null>";
    case VT_I2: return wsprintf_typed(u"%d (0x%X)", v.iVal, v.iVal);
    case VT_I4: return wsprintf_typed(u"%d (0x%X)", v.lVal, v.lVal);
    case VT_R4: return wsprintf_typed(u"%10.4f", static_cast<double>(v.fltVal));
    case VT_R8: return wsprintf_typed(u"%10.4f", v.dblVal);
    case VT_BSTR: return u"\"" + std::u16string(v.bstrVal ? v.bstrVal : u"") + u"\"";
    case VT_BOOL: return std::u16string(v.boolVal ? u"TRUE" : u"FALSE");
    case VT_UI1:
        return v.bVal < 32 ? wsprintf_typed(u"%d (0x%X)", v.bVal, v.bVal)
                           : wsprintf_typed(u"'%c' (%d, 0x%X)", v.bVal, v.bVal, v.bVal);
    case VT_ARRAY | VT_I2: return short_array_text(v.parray);
    case VT_ARRAY | VT_UNKNOWN: return unknown_array_text(v.parray);
    case VT_ARRAY | VT_I2 | VT_BYREF: return short_array_as_characters(v.pparray ? *v.pparray : nullptr);
    case VT_DISPATCH:
    case VT_ARRAY | VT_I4:
    case VT_ARRAY | VT_R4:
    case VT_ARRAY | VT_R8:
    case VT_ARRAY | VT_BSTR:
    case VT_ARRAY | VT_DISPATCH:
    case VT_ARRAY | VT_BOOL:
    case VT_ARRAY | VT_UI1: return std::nullopt;
    default: return wsprintf_typed(u"<conversion error> vt=%d (0x%x)", v.vt, v.vt);
    }
}

}  // namespace

size_t SafeArrayToArray(const VARIANT* value, void* slots, size_t capacity) {
    if (!value || !(value->vt & VT_ARRAY) || (value->vt & VT_BYREF) || !slots || !value->parray ||
        value->parray->cbElements > 8)
        return 0;
    const auto bounds = bounds_of(value->parray);
    if (!bounds) return 0;
    auto* out = static_cast<unsigned char*>(slots);
    size_t copied = 0;
    for (LONG i = bounds->lower; i <= bounds->upper && copied < capacity; ++i, ++copied) {
        std::memset(out + copied * 8, 0, 8);
        SafeArrayGetElement(value->parray, &i, out + copied * 8);
    }
    return copied;
}

WCHAR* VariantToText(const VARIANT* value, WCHAR** text) {
    WCHAR* result = nullptr;
    if (value) {
        if (const auto described = describe(*value)) {
            const size_t bytes = (described->size() + 1) * sizeof(WCHAR);
            result = static_cast<WCHAR*>(std::calloc(1, bytes));
            if (result) std::memcpy(result, described->c_str(), bytes);
        }
    }
    if (text) *text = result;
    return result;
}
