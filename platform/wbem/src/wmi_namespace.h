#pragma once
// The data the WMI stand-in serves: one namespace read from the fixture, its
// classes with their instances and methods, and the log of what was asked.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "wmi_object.h"

namespace platform::wmi {

struct WmiClass {
    std::u16string name;
    std::vector<ComRef<WmiObject>> instances;
    ComRef<WmiObject> classObject;
    json methods = json::object();   // name -> {"in", "out", "fail"}
    json failures = json::object();  // call name -> HRESULT

    HRESULT failure(const char* call) const;
};

class WmiNamespace {
public:
    // Throws std::exception for a fixture it cannot serve.
    static std::shared_ptr<WmiNamespace> parse(const std::string& text);

    const std::u16string& name() const { return m_name; }
    // Copies of the class's instances, and what Next is to fail with (0: nothing).
    HRESULT enumerate(std::u16string_view className, std::vector<ComRef<WmiObject>>& copies, HRESULT& nextFailure);
    HRESULT get_object(std::u16string_view path, ComRef<WmiObject>& object);
    HRESULT put_instance(const WmiObject& instance);
    HRESULT exec_method(std::u16string_view path, std::u16string_view method, WmiObject* in,
                        ComRef<WmiObject>& out);

private:
    WmiClass* find_class(std::u16string_view name);
    ComRef<WmiObject>* find_instance(WmiClass& cls, std::u16string_view key, std::u16string_view value);

    std::mutex m_lock;
    std::u16string m_name;
    std::vector<WmiClass> m_classes;
};

// The namespace the fixture serves (SANPROV_WMI_FIXTURE), kept with its
// writes while the fixture's text stays the same.
HRESULT connect(std::u16string_view namespaceName, std::shared_ptr<WmiNamespace>& served);

void log_call(const char* call, std::u16string_view target, const json& detail, HRESULT result);

}  // namespace platform::wmi
