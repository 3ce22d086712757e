#include "wmi_object.h"

#include <platform/safearray.h>
#include <platform/text.h>

#include <limits>
#include <stdexcept>

namespace platform::wmi {

namespace {

constexpr HRESULT WBEM_E_INVALID_OPERATION = hr_of(0x80041016);

std::u16string wide(std::string_view text) { return utf8_to_wide_lossy(text); }
std::string narrow(std::u16string_view text) { return wide_to_utf8_lossy(text); }

// A VARIANT this file owns while it builds or reads one.
struct OwnedVariant {
    VARIANT v;
    OwnedVariant() { VariantInit(&v); }
    ~OwnedVariant() { VariantClear(&v); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;
};

void set_text(VARIANT& v, std::u16string_view text) {
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!v.bstrVal) throw std::bad_alloc();
}

LONG integer_in(const json& j, int64_t low, int64_t high, const char* what) {
    if (!j.is_number_integer()) throw std::invalid_argument(std::string(what) + " needs an integer");
    const int64_t n = j.is_number_unsigned() && j.get<uint64_t>() > uint64_t(std::numeric_limits<int64_t>::max())
                          ? std::numeric_limits<int64_t>::max()
                          : j.get<int64_t>();
    if (n < low || n > high) throw std::invalid_argument(std::string(what) + " out of range: " + j.dump());
    return static_cast<LONG>(static_cast<uint32_t>(n));
}

// 64-bit integers travel as decimal text; the fixture may give the number or the text.
std::string text64(const json& j) {
    if (j.is_string()) return j.get<std::string>();
    if (j.is_number_unsigned()) return std::to_string(j.get<uint64_t>());
    if (j.is_number_integer()) return std::to_string(j.get<int64_t>());
    throw std::invalid_argument("a 64-bit value needs a number or its text");
}

CIMTYPE value_from_json(const json& j, VARIANT& out);

SAFEARRAY* new_vector(VARTYPE vt, size_t count) {
    SAFEARRAY* array = SafeArrayCreateVector(vt, 0, static_cast<ULONG>(count));
    if (!array) throw std::bad_alloc();
    return array;
}

void put_element(SAFEARRAY* array, LONG index, VARIANT& element) {
    void* pv = nullptr;
    switch (element.vt) {
    case VT_BSTR: pv = element.bstrVal; break;
    case VT_UNKNOWN: pv = element.punkVal; break;
    default: pv = &element.llVal; break;
    }
    if (FAILED(SafeArrayPutElement(array, &index, pv))) throw std::bad_alloc();
}

CIMTYPE array_from_json(const json& j, VARIANT& out) {
    VARTYPE elementType = VT_UNKNOWN;
    CIMTYPE type = CIM_OBJECT;
    if (!j.empty()) {
        OwnedVariant first;
        type = value_from_json(j.front(), first.v);
        elementType = first.v.vt;
        if (elementType != VT_UNKNOWN && elementType != VT_BSTR && elementType != VT_I4 && elementType != VT_BOOL)
            throw std::invalid_argument("unsupported array element: " + j.front().dump());
    }
    SAFEARRAY* array = new_vector(elementType, j.size());
    out.vt = VT_ARRAY | elementType;
    out.parray = array;
    LONG index = 0;
    for (const json& item : j) {
        OwnedVariant element;
        value_from_json(item, element.v);
        if (element.v.vt != elementType) throw std::invalid_argument("mixed array: " + j.dump());
        put_element(array, index++, element.v);
    }
    return type | CIM_FLAG_ARRAY;
}

CIMTYPE typed_from_json(const std::string& form, const json& j, VARIANT& out) {
    if (form == "$uint8") {
        out.vt = VT_UI1;
        out.bVal = static_cast<BYTE>(integer_in(j, 0, 255, "$uint8"));
        return CIM_UINT8;
    }
    if (form == "$uint16") {
        out.vt = VT_I4;
        out.lVal = integer_in(j, 0, 65535, "$uint16");
        return CIM_UINT16;
    }
    if (form == "$uint64" || form == "$sint64") {
        set_text(out, wide(text64(j)));
        return form == "$uint64" ? CIM_UINT64 : CIM_SINT64;
    }
    if (form == "$uint8[]") {
        if (!j.is_array()) throw std::invalid_argument("$uint8[] needs an array");
        SAFEARRAY* array = new_vector(VT_UI1, j.size());
        out.vt = VT_ARRAY | VT_UI1;
        out.parray = array;
        LONG index = 0;
        for (const json& item : j) {
            BYTE b = static_cast<BYTE>(integer_in(item, 0, 255, "$uint8[]"));
            if (FAILED(SafeArrayPutElement(array, &index, &b))) throw std::bad_alloc();
            ++index;
        }
        return CIM_UINT8 | CIM_FLAG_ARRAY;
    }
    throw std::invalid_argument("unknown typed value " + form);
}

// Fills `out` (VT_EMPTY on entry) with the WMI form of a fixture value.
CIMTYPE value_from_json(const json& j, VARIANT& out) {
    switch (j.type()) {
    case json::value_t::null: out.vt = VT_NULL; return CIM_EMPTY;
    case json::value_t::boolean:
        out.vt = VT_BOOL;
        out.boolVal = j.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
        return CIM_BOOLEAN;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
        // WMI delivers every 32-bit integer, signed or not, as VT_I4.
        out.vt = VT_I4;
        out.lVal = integer_in(j, std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max(),
                              "a 32-bit value");
        return j.get<int64_t>() < 0 ? CIM_SINT32 : CIM_UINT32;
    case json::value_t::number_float:
        out.vt = VT_R8;
        out.dblVal = j.get<double>();
        return CIM_REAL64;
    case json::value_t::string: set_text(out, wide(j.get<std::string>())); return CIM_STRING;
    case json::value_t::array: return array_from_json(j, out);
    case json::value_t::object:
        if (j.size() == 1 && j.begin().key().starts_with('$')) return typed_from_json(j.begin().key(), j.begin().value(), out);
        out.vt = VT_UNKNOWN;
        out.punkVal = WmiObject::from_json(j, wide(j.value("__CLASS", std::string()))).detach();
        return CIM_OBJECT;
    default: throw std::invalid_argument("unsupported value " + j.dump());
    }
}

// Calls `each` with every element of a one-dimensional array as a VARIANT of
// the element type.
template <typename Each>
void for_each_element(SAFEARRAY* array, VARTYPE elementType, Each each) {
    LONG low = 0, high = -1;
    if (!array || FAILED(SafeArrayGetLBound(array, 1, &low)) || FAILED(SafeArrayGetUBound(array, 1, &high))) return;
    for (LONG i = low; i <= high; ++i) {
        OwnedVariant element;
        if (FAILED(SafeArrayGetElement(array, &i, &element.v.llVal))) continue;
        element.v.vt = elementType;
        each(element.v);
    }
}

bool is_64bit(CIMTYPE type) {
    const CIMTYPE base = type & ~CIM_FLAG_ARRAY;
    return base == CIM_UINT64 || base == CIM_SINT64;
}

// The VARIANT types WMI takes for a property of a CIM type.
bool compatible(CIMTYPE type, VARTYPE vt) {
    if (vt == VT_NULL || type == CIM_EMPTY) return true;
    if (((type & CIM_FLAG_ARRAY) != 0) != ((vt & VT_ARRAY) != 0)) return false;
    const VARTYPE element = vt & VT_TYPEMASK;
    const bool integer = element == VT_UI1 || element == VT_I2 || element == VT_I4;
    switch (type & ~CIM_FLAG_ARRAY) {
    case CIM_BOOLEAN: return element == VT_BOOL;
    case CIM_STRING: return element == VT_BSTR;
    case CIM_OBJECT: return element == VT_UNKNOWN;
    case CIM_REAL64: return element == VT_R8 || element == VT_R4;
    case CIM_UINT64:
    case CIM_SINT64: return element == VT_BSTR || integer || element == VT_I8 || element == VT_UI8;
    case CIM_SINT8:
    case CIM_UINT8:
    case CIM_SINT16:
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32: return integer;
    default: return true;
    }
}

CIMTYPE cim_type_named(const std::string& name) {
    static const std::pair<const char*, CIMTYPE> kTypes[] = {
        {"uint8", CIM_UINT8},   {"uint16", CIM_UINT16}, {"uint32", CIM_UINT32},   {"sint32", CIM_SINT32},
        {"uint64", CIM_UINT64}, {"sint64", CIM_SINT64}, {"string", CIM_STRING},   {"boolean", CIM_BOOLEAN},
        {"object", CIM_OBJECT}, {"real64", CIM_REAL64},
    };
    for (const auto& [text, type] : kTypes)
        if (name == text) return type;
    throw std::invalid_argument("unknown CIM type " + name);
}

// A method's parameter list: ["Name", ...] or {"Name": "uint32", ...}.
ComRef<WmiObject> signature(const json& parameters) {
    if (parameters.is_null() || parameters.empty()) return {};
    ComRef<WmiObject> object = WmiObject::create(u"__PARAMETERS", WmiObject::Kind::Class);
    json typed = json::object();
    if (parameters.is_array()) {
        for (const json& name : parameters) typed[name.get<std::string>()] = nullptr;
    } else {
        typed = parameters;
    }
    for (const auto& [name, type] : typed.items()) {
        VARIANT null;
        VariantInit(&null);
        null.vt = VT_NULL;
        object->Put(wide(name).c_str(), 0, &null,
                    type.is_string() ? cim_type_named(type.get<std::string>()) : CIM_EMPTY);
    }
    return object;
}

}  // namespace

WmiObject* as_wmi_object(IUnknown* object) { return object ? dynamic_cast<WmiObject*>(object) : nullptr; }

HRESULT copy_value(VARIANT* destination, const VARIANT& source) {
    VariantInit(destination);
    try {
        if (source.vt == VT_UNKNOWN) {
            if (WmiObject* object = as_wmi_object(source.punkVal)) {
                destination->vt = VT_UNKNOWN;
                destination->punkVal = static_cast<IWbemClassObject*>(object->clone().detach());
                return S_OK;
            }
        }
        if (source.vt == (VT_ARRAY | VT_UNKNOWN)) {
            std::vector<ComRef<WmiObject>> copies;
            bool foreign = false;
            for_each_element(source.parray, VT_UNKNOWN, [&](const VARIANT& element) {
                WmiObject* object = as_wmi_object(element.punkVal);
                foreign = foreign || (element.punkVal && !object);
                copies.push_back(object ? object->clone() : ComRef<WmiObject>());
            });
            if (!foreign) {
                OwnedVariant out;
                out.v.vt = VT_ARRAY | VT_UNKNOWN;
                out.v.parray = new_vector(VT_UNKNOWN, copies.size());
                LONG index = 0;
                for (const ComRef<WmiObject>& copy : copies) {
                    IUnknown* element = static_cast<IWbemClassObject*>(copy.get());
                    if (FAILED(SafeArrayPutElement(out.v.parray, &index, element))) return E_OUTOFMEMORY;
                    ++index;
                }
                *destination = out.v;
                out.v.vt = VT_EMPTY;
                return S_OK;
            }
        }
        return VariantCopy(destination, &source);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

json value_to_json(const VARIANT& value, CIMTYPE type) {
    const auto text = [](BSTR b) { return narrow(std::u16string_view(b ? b : u"", SysStringLen(b))); };
    if (value.vt & VT_ARRAY) {
        const VARTYPE element = value.vt & VT_TYPEMASK;
        json items = json::array();
        for_each_element(value.parray, element,
                         [&](const VARIANT& v) { items.push_back(value_to_json(v, type & ~CIM_FLAG_ARRAY)); });
        if (element == VT_UI1) {
            json bytes = json::array();
            for (const json& item : items) bytes.push_back(item["$uint8"]);
            return json{{"$uint8[]", bytes}};
        }
        return items;
    }
    switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL: return nullptr;
    case VT_BOOL: return value.boolVal != VARIANT_FALSE;
    case VT_UI1: return json{{"$uint8", value.bVal}};
    case VT_I2: return value.iVal;
    case VT_I4:
        if (is_64bit(type)) return json{{type == CIM_UINT64 ? "$uint64" : "$sint64", std::to_string(value.lVal)}};
        if (type == CIM_UINT16) return json{{"$uint16", value.lVal}};
        return value.lVal;
    case VT_UI4: return value.ulVal;
    case VT_I8: return json{{"$sint64", std::to_string(value.llVal)}};
    case VT_UI8: return json{{"$uint64", std::to_string(value.ullVal)}};
    case VT_R4: return value.fltVal;
    case VT_R8: return value.dblVal;
    case VT_BSTR:
        if (is_64bit(type)) return json{{type == CIM_UINT64 ? "$uint64" : "$sint64", text(value.bstrVal)}};
        return text(value.bstrVal);
    case VT_UNKNOWN:
        if (WmiObject* object = as_wmi_object(value.punkVal)) return object->to_json();
        return value.punkVal ? json("<foreign object>") : json(nullptr);
    default: return json{{"$vt", value.vt}};
    }
}

ComRef<WmiObject> WmiObject::create(std::u16string className, Kind kind) {
    return ComRef<WmiObject>::adopt(new WmiObject(std::move(className), kind));
}

ComRef<WmiObject> WmiObject::from_json(const json& object, std::u16string className) {
    if (!object.is_object()) throw std::invalid_argument("an instance must be an object: " + object.dump());
    ComRef<WmiObject> instance = create(std::move(className), Kind::Instance);
    for (const auto& [name, value] : object.items()) {
        if (name == "__CLASS") continue;
        OwnedVariant v;
        const CIMTYPE type = value_from_json(value, v.v);
        instance->add(wide(name), v.v, type);
    }
    return instance;
}

WmiObject::~WmiObject() {
    for (Property& p : m_properties) VariantClear(&p.value);
}

HRESULT WmiObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IWbemClassObject) {
        *ppv = static_cast<IWbemClassObject*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG WmiObject::AddRef() { return ++m_refs; }

ULONG WmiObject::Release() {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
}

WmiObject::Property* WmiObject::find(std::u16string_view name) {
    for (Property& p : m_properties)
        if (equal_wide_nocase(p.name, name)) return &p;
    return nullptr;
}

const WmiObject::Property* WmiObject::find(std::u16string_view name) const {
    return const_cast<WmiObject*>(this)->find(name);
}

void WmiObject::add(std::u16string name, const VARIANT& value, CIMTYPE type) {
    Property p{std::move(name), {}, type};
    const HRESULT hr = copy_value(&p.value, value);
    if (FAILED(hr)) throw std::bad_alloc();
    m_properties.push_back(p);
}

HRESULT WmiObject::Get(LPCWSTR name, LONG /*flags*/, VARIANT* value, CIMTYPE* type, LONG* flavor) {
    if (!name) return WBEM_E_INVALID_PARAMETER;
    if (equal_wide_nocase(name, u"__CLASS")) {
        if (value) {
            VariantInit(value);
            try {
                set_text(*value, m_class);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
        }
        if (type) *type = CIM_STRING;
        if (flavor) *flavor = 0;
        return WBEM_S_NO_ERROR;
    }
    const Property* p = find(name);
    if (!p) return WBEM_E_NOT_FOUND;
    if (value) {
        const HRESULT hr = copy_value(value, p->value);
        if (FAILED(hr)) return hr;
    }
    if (type) *type = p->type;
    if (flavor) *flavor = 0;
    return WBEM_S_NO_ERROR;
}

HRESULT WmiObject::Put(LPCWSTR name, LONG /*flags*/, VARIANT* value, CIMTYPE type) {
    if (!name || !value) return WBEM_E_INVALID_PARAMETER;
    Property* p = find(name);
    if (!p) {
        if (m_kind == Kind::Instance) return WBEM_E_NOT_FOUND;
        try {
            add(name, *value, type);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return WBEM_S_NO_ERROR;
    }
    if (!compatible(p->type, value->vt)) return WBEM_E_TYPE_MISMATCH;
    VARIANT copy;
    const HRESULT hr = copy_value(&copy, *value);
    if (FAILED(hr)) return hr;
    VariantClear(&p->value);
    p->value = copy;
    if (p->type == CIM_EMPTY) p->type = type;
    return WBEM_S_NO_ERROR;
}

HRESULT WmiObject::GetObjectText(LONG /*flags*/, BSTR* text) {
    if (!text) return WBEM_E_INVALID_PARAMETER;
    std::string out = (m_kind == Kind::Class ? "class " : "instance of ") + narrow(m_class) + "\n{\n";
    for (const Property& p : m_properties)
        out += "\t" + narrow(p.name) + " = " + value_to_json(p.value, p.type).dump() + ";\n";
    out += "};\n";
    const std::u16string wideText = wide(out);
    *text = SysAllocStringLen(wideText.data(), static_cast<UINT>(wideText.size()));
    return *text ? WBEM_S_NO_ERROR : E_OUTOFMEMORY;
}

HRESULT WmiObject::SpawnInstance(LONG /*flags*/, IWbemClassObject** instance) {
    if (!instance) return WBEM_E_INVALID_PARAMETER;
    *instance = nullptr;
    if (m_kind != Kind::Class) return WBEM_E_INVALID_OPERATION;
    try {
        ComRef<WmiObject> spawned = create(m_class, Kind::Instance);
        spawned->add_properties_of(*this);
        *instance = spawned.detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return WBEM_S_NO_ERROR;
}

HRESULT WmiObject::GetMethod(LPCWSTR name, LONG /*flags*/, IWbemClassObject** in, IWbemClassObject** out) {
    if (in) *in = nullptr;
    if (out) *out = nullptr;
    if (!name) return WBEM_E_INVALID_PARAMETER;
    const std::string method = narrow(name);
    if (m_kind != Kind::Class || !m_methods.contains(method)) return WBEM_E_NOT_FOUND;
    const json& definition = m_methods[method];
    try {
        if (in) *in = signature(definition.value("in", json())).detach();
        if (out) {
            const json outputs = definition.value("out", json{{"ReturnCode", 0}});
            json names = json::array();
            if (outputs.is_object())
                for (const auto& item : outputs.items()) names.push_back(item.key());
            *out = signature(names).detach();
        }
    } catch (const std::exception&) {
        if (in && *in) {
            (*in)->Release();
            *in = nullptr;
        }
        return WBEM_E_FAILED;
    }
    return WBEM_S_NO_ERROR;
}

ComRef<WmiObject> WmiObject::clone() const {
    ComRef<WmiObject> copy = create(m_class, m_kind);
    for (const Property& p : m_properties) copy->add(p.name, p.value, p.type);
    copy->m_methods = m_methods;
    return copy;
}

void WmiObject::add_properties_of(const WmiObject& other) {
    for (const Property& p : other.m_properties) {
        if (find(p.name)) continue;
        VARIANT null;
        VariantInit(&null);
        null.vt = VT_NULL;
        add(p.name, null, p.type);
    }
}

ComRef<WmiObject> WmiObject::class_of(const json& methods) const {
    ComRef<WmiObject> object = create(m_class, Kind::Class);
    object->add_properties_of(*this);
    object->m_methods = methods.is_object() ? methods : json::object();
    return object;
}

bool WmiObject::text_of(std::u16string_view name, std::u16string& text) const {
    const Property* p = find(name);
    if (!p || p->value.vt != VT_BSTR) return false;
    text.assign(p->value.bstrVal ? p->value.bstrVal : u"", SysStringLen(p->value.bstrVal));
    return true;
}

json WmiObject::to_json() const {
    json object = json::object();
    if (!m_class.empty()) object["__CLASS"] = narrow(m_class);
    for (const Property& p : m_properties) object[narrow(p.name)] = value_to_json(p.value, p.type);
    return object;
}

}  // namespace platform::wmi
