#pragma once
// The WMI stand-in's class objects and instances, and the conversion of their
// values between the fixture's JSON and WMI's VARIANT forms.
#include <platform/wbem.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <string>
#include <vector>

#include "com_ref.h"

namespace platform::wmi {

// Fixture order is kept, so objects list their properties as the fixture does.
using json = nlohmann::ordered_json;

class WmiObject final : public IWbemClassObject {
public:
    enum class Kind { Class, Instance };

    static ComRef<WmiObject> create(std::u16string className, Kind kind);
    // An instance of the fixture's object form (throws std::invalid_argument
    // for a value it cannot serve).
    static ComRef<WmiObject> from_json(const json& object, std::u16string className);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override;
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type) override;
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG flags, BSTR* text) override;
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG flags, IWbemClassObject** instance) override;
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR name, LONG flags, IWbemClassObject** in,
                                        IWbemClassObject** out) override;

    // A deep copy: embedded objects are copied too.
    ComRef<WmiObject> clone() const;
    // The class object of a class: its properties without values, and its methods.
    ComRef<WmiObject> class_of(const json& methods) const;
    void add_properties_of(const WmiObject& other);

    const std::u16string& class_name() const { return m_class; }
    Kind kind() const { return m_kind; }
    // The text value of a property, when it has one.
    bool text_of(std::u16string_view name, std::u16string& text) const;
    json to_json() const;

private:
    struct Property {
        std::u16string name;
        VARIANT value;  // owned
        CIMTYPE type;
    };

    WmiObject(std::u16string className, Kind kind) : m_class(std::move(className)), m_kind(kind) {}
    ~WmiObject();
    Property* find(std::u16string_view name);
    const Property* find(std::u16string_view name) const;
    void add(std::u16string name, const VARIANT& value, CIMTYPE type);

    std::atomic<ULONG> m_refs{1};
    std::u16string m_class;
    Kind m_kind;
    std::vector<Property> m_properties;
    json m_methods = json::object();
};

// The object behind an interface pointer the stand-in handed out; null for
// any other object.
WmiObject* as_wmi_object(IUnknown* object);

// A deep copy of a value: embedded objects are copied, not shared.
HRESULT copy_value(VARIANT* destination, const VARIANT& source);
json value_to_json(const VARIANT& value, CIMTYPE type);

}  // namespace platform::wmi
