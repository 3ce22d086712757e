#include "wmi_namespace.h"

#include <platform/text.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform::wmi {

namespace {

std::u16string wide(std::string_view text) { return utf8_to_wide_lossy(text); }
std::string narrow(std::u16string_view text) { return wide_to_utf8_lossy(text); }

constexpr std::u16string_view kKey = u"InstanceName";

struct ObjectPath {
    std::u16string className;
    std::u16string key;  // empty for a class path
    std::u16string value;
};

// "Class", or "Class.Key=\"text\"" with \\ and \" escaped inside the quotes,
// or "Class.Key=value".
bool parse_path(std::u16string_view path, ObjectPath& out) {
    const size_t dot = path.find(u'.');
    out.className = std::u16string(path.substr(0, dot));
    if (out.className.empty()) return false;
    if (dot == std::u16string_view::npos) return true;
    const std::u16string_view rest = path.substr(dot + 1);
    const size_t eq = rest.find(u'=');
    if (eq == std::u16string_view::npos || eq == 0) return false;
    out.key = std::u16string(rest.substr(0, eq));
    std::u16string_view value = rest.substr(eq + 1);
    if (value.empty() || value.front() != u'"') {
        out.value = std::u16string(value);
        return true;
    }
    for (size_t i = 1; i < value.size(); ++i) {
        if (value[i] == u'\\' && i + 1 < value.size()) {
            out.value += value[++i];
        } else if (value[i] == u'"') {
            return i + 1 == value.size();
        } else {
            out.value += value[i];
        }
    }
    return false;  // no closing quote
}

struct ServedFixture {
    std::mutex lock;
    std::string path;
    std::string text;
    std::shared_ptr<WmiNamespace> served;
};

ServedFixture& served_fixture() {
    static ServedFixture* const fixture = new ServedFixture;
    return *fixture;
}

struct CallLog {
    std::mutex lock;
    std::vector<WmiLogEntry> entries;
};

CallLog& call_log() {
    static CallLog* const log = new CallLog;
    return *log;
}

bool read_file(const char* path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return true;
}

// "\\.\root\wmi" and "root\wmi" name the same namespace.
std::u16string_view local_name(std::u16string_view name) {
    constexpr std::u16string_view kLocal = u"\\\\.\\";
    return name.starts_with(kLocal) ? name.substr(kLocal.size()) : name;
}

}  // namespace

HRESULT WmiClass::failure(const char* call) const {
    return failures.contains(call) ? static_cast<HRESULT>(failures[call].get<int64_t>()) : S_OK;
}

std::shared_ptr<WmiNamespace> WmiNamespace::parse(const std::string& text) {
    const json fixture = json::parse(text);
    auto served = std::make_shared<WmiNamespace>();
    served->m_name = wide(fixture.value("namespace", std::string("root\\wmi")));
    const json classes = fixture.value("classes", json::object());
    for (const auto& [name, definition] : classes.items()) {
        WmiClass cls;
        cls.name = wide(name);
        ComRef<WmiObject> shape = WmiObject::create(cls.name, WmiObject::Kind::Instance);
        for (const json& instance : definition.value("instances", json::array())) {
            cls.instances.push_back(WmiObject::from_json(instance, cls.name));
            shape->add_properties_of(*cls.instances.back().get());
        }
        cls.methods = definition.value("methods", json::object());
        cls.classObject = shape->class_of(cls.methods);
        cls.failures = definition.value("fail", json::object());
        served->m_classes.push_back(std::move(cls));
    }
    return served;
}

WmiClass* WmiNamespace::find_class(std::u16string_view name) {
    for (WmiClass& cls : m_classes)
        if (equal_wide_nocase(cls.name, name)) return &cls;
    return nullptr;
}

ComRef<WmiObject>* WmiNamespace::find_instance(WmiClass& cls, std::u16string_view key, std::u16string_view value) {
    for (ComRef<WmiObject>& instance : cls.instances) {
        std::u16string text;
        if (instance->text_of(key, text) && equal_wide_nocase(text, value)) return &instance;
    }
    return nullptr;
}

HRESULT WmiNamespace::enumerate(std::u16string_view className, std::vector<ComRef<WmiObject>>& copies,
                                HRESULT& nextFailure) {
    std::lock_guard guard(m_lock);
    WmiClass* cls = find_class(className);
    if (!cls) return WBEM_E_INVALID_CLASS;
    if (const HRESULT hr = cls->failure("CreateInstanceEnum")) return hr;
    nextFailure = cls->failure("Next");
    for (const ComRef<WmiObject>& instance : cls->instances) copies.push_back(instance->clone());
    return WBEM_S_NO_ERROR;
}

HRESULT WmiNamespace::get_object(std::u16string_view path, ComRef<WmiObject>& object) {
    ObjectPath parsed;
    if (!parse_path(path, parsed)) return WBEM_E_INVALID_OBJECT_PATH;
    std::lock_guard guard(m_lock);
    WmiClass* cls = find_class(parsed.className);
    if (!cls) return WBEM_E_INVALID_CLASS;
    if (const HRESULT hr = cls->failure("GetObject")) return hr;
    if (parsed.key.empty()) {
        object = cls->classObject->clone();
        return WBEM_S_NO_ERROR;
    }
    ComRef<WmiObject>* instance = find_instance(*cls, parsed.key, parsed.value);
    if (!instance) return WBEM_E_NOT_FOUND;
    object = (*instance)->clone();
    return WBEM_S_NO_ERROR;
}

HRESULT WmiNamespace::put_instance(const WmiObject& instance) {
    if (instance.kind() != WmiObject::Kind::Instance) return WBEM_E_INVALID_PARAMETER;
    std::u16string key;
    if (!instance.text_of(kKey, key)) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard guard(m_lock);
    WmiClass* cls = find_class(instance.class_name());
    if (!cls) return WBEM_E_INVALID_CLASS;
    if (const HRESULT hr = cls->failure("PutInstance")) return hr;
    ComRef<WmiObject>* stored = find_instance(*cls, kKey, key);
    if (!stored) return WBEM_E_NOT_FOUND;
    *stored = instance.clone();
    return WBEM_S_NO_ERROR;
}

HRESULT WmiNamespace::exec_method(std::u16string_view path, std::u16string_view method, WmiObject* in,
                                  ComRef<WmiObject>& out) {
    ObjectPath parsed;
    if (!parse_path(path, parsed)) return WBEM_E_INVALID_OBJECT_PATH;
    std::lock_guard guard(m_lock);
    WmiClass* cls = find_class(parsed.className);
    if (!cls) return WBEM_E_INVALID_CLASS;
    if (const HRESULT hr = cls->failure("ExecMethod")) return hr;
    if (!parsed.key.empty() && !find_instance(*cls, parsed.key, parsed.value)) return WBEM_E_NOT_FOUND;

    const std::string name = narrow(method);
    if (!cls->methods.contains(name)) return WBEM_E_INVALID_METHOD;
    const json& definition = cls->methods[name];
    // Every declared input must come with a value.
    const json declared = definition.value("in", json::array());
    const json given = in ? in->to_json() : json::object();
    for (const auto& [index, entry] : declared.items()) {
        const std::string input = declared.is_array() ? entry.get<std::string>() : index;
        if (!given.contains(input) || given[input].is_null()) return WBEM_E_INVALID_METHOD_PARAMETERS;
    }
    if (definition.contains("fail")) return static_cast<HRESULT>(definition["fail"].get<int64_t>());
    const json outputs = definition.value("out", json{{"ReturnCode", 0}});
    if (!outputs.is_null()) out = WmiObject::from_json(outputs, u"__PARAMETERS");
    return WBEM_S_NO_ERROR;
}

HRESULT connect(std::u16string_view namespaceName, std::shared_ptr<WmiNamespace>& served) {
    const char* path = std::getenv("SANPROV_WMI_FIXTURE");
    std::string text;
    if (!path || !*path || !read_file(path, text)) return WBEM_E_UNREACHABLE;
    ServedFixture& fixture = served_fixture();
    std::lock_guard guard(fixture.lock);
    if (!fixture.served || fixture.path != path || fixture.text != text) {
        try {
            fixture.served = WmiNamespace::parse(text);
        } catch (const std::exception&) {
            fixture.served.reset();
            return WBEM_E_FAILED;
        }
        fixture.path = path;
        fixture.text = std::move(text);
    }
    if (!equal_wide_nocase(local_name(namespaceName), local_name(fixture.served->name())))
        return WBEM_E_INVALID_NAMESPACE;
    served = fixture.served;
    return WBEM_S_NO_ERROR;
}

void log_call(const char* call, std::u16string_view target, const json& detail, HRESULT result) {
    WmiLogEntry entry{call, narrow(target), detail.is_null() ? std::string() : detail.dump(), result};
    if (const char* path = std::getenv("SANPROV_WMI_LOG"); path && *path) {
        const json line = {{"call", entry.call}, {"target", entry.target}, {"detail", detail}, {"result", result}};
        if (FILE* f = std::fopen(path, "a")) {
            std::fprintf(f, "%s\n", line.dump().c_str());
            std::fclose(f);
        }
    }
    CallLog& log = call_log();
    std::lock_guard guard(log.lock);
    log.entries.push_back(std::move(entry));
}

}  // namespace platform::wmi

namespace platform {

std::vector<WmiLogEntry> wmi_log() {
    wmi::CallLog& log = wmi::call_log();
    std::lock_guard guard(log.lock);
    return log.entries;
}

void wmi_reset() {
    {
        wmi::CallLog& log = wmi::call_log();
        std::lock_guard guard(log.lock);
        log.entries.clear();
    }
    wmi::ServedFixture& fixture = wmi::served_fixture();
    std::lock_guard guard(fixture.lock);
    fixture.served.reset();
    fixture.path.clear();
    fixture.text.clear();
}

}  // namespace platform
