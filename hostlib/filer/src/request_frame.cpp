#include <filer/request_frame.h>
#include <hostlib/autolock.h>
#include <platform/errors.h>
#include <platform/text.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "fapi_kx.h"
#include "fapi_raise.h"

CRITICAL_SECTION g_fapiLock;

namespace {

// Static construction gives the lock before the program's entry point runs.
struct fapi_lock_lifetime {
    fapi_lock_lifetime() { InitializeCriticalSection(&g_fapiLock); }
    ~fapi_lock_lifetime() { DeleteCriticalSection(&g_fapiLock); }
} g_fapiLockLifetime;

[[noreturn]] void raise_last_error() { FAPI_RAISE(HRESULT_FROM_WIN32(GetLastError())); }

kx_elem_rec* mutable_elem(const kx_elem_rec* elem) { return const_cast<kx_elem_rec*>(elem); }

// The leading decimal number of a text: blanks, an optional sign, digits.
template <typename T>
T leading_decimal(const char* text) {
    if constexpr (std::is_unsigned_v<T>) {
        return static_cast<T>(std::strtoull(text, nullptr, 10));
    } else {
        return static_cast<T>(std::strtoll(text, nullptr, 10));
    }
}

// The named child's text where it lies in the reply, the empty text when the
// child or its text is missing: values are read from it without a copy.
const char* child_text(const kx_elem_rec* elem, const char* name) {
    const char* text = elem ? kx_child_text(mutable_elem(elem), name) : nullptr;
    return text ? text : "";
}

bool is_ascii(const char* text) {
    for (; *text; ++text)
        if (static_cast<unsigned char>(*text) >= 0x80) return false;
    return true;
}

}  // namespace

ServerHandlePtr& ServerHandlePtr::operator=(ServerHandlePtr&& other) noexcept {
    if (this != &other) Reset(other.release());
    return *this;
}

void ServerHandlePtr::Reset(kx_server_rec* server) {
    if (server_) kx_server_destroy(server_);
    server_ = server;
}

kx_server_rec* ServerHandlePtr::release() { return std::exchange(server_, nullptr); }

ElemHandlePtr& ElemHandlePtr::operator=(ElemHandlePtr&& other) noexcept {
    if (this != &other) Reset(other.release());
    return *this;
}

void ElemHandlePtr::Reset(kx_elem_rec* elem) {
    if (elem_) kx_elem_destroy(elem_);
    elem_ = elem;
}

kx_elem_rec* ElemHandlePtr::release() { return std::exchange(elem_, nullptr); }

std::string wide_to_ansi(const WCHAR* text) {
    if (!text || !*text) return {};
    auto ansi = platform::wide_to_utf8(text);
    if (!ansi) FAPI_RAISE(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    return std::move(*ansi);
}

std::string ansi_to_utf8(std::string_view ansi) {
    std::u16string wide(ansi.size() + 1, u'\0');
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(),
                                          static_cast<int>(wide.size()));
    if (units == 0) raise_last_error();
    std::string utf8(2 * ansi.size() + 1, '\0');
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(), static_cast<int>(utf8.size()),
                                          nullptr, nullptr);
    if (bytes == 0) raise_last_error();
    utf8.resize(bytes);
    return utf8;
}

std::u16string ansi_to_wide(std::string_view ansi) { return platform::utf8_to_wide_lossy(ansi); }

kx_elem_rec* add_child_utf8(kx_elem_rec* parent, const char* name, const char* ansi_value) {
    // ASCII reads the same in every ANSI code page and in UTF-8: nearly every
    // value of a request is sent as it stands, without the two conversions.
    // An empty value still goes through them, which refuse it.
    const bool ascii = *ansi_value && is_ascii(ansi_value);
    const std::string utf8 = ascii ? std::string() : ansi_to_utf8(ansi_value);
    kx_elem_rec* child = kx_child_add_text(parent, name, ascii ? ansi_value : utf8.c_str());
    if (!child) FAPI_RAISE(errno == ENOMEM ? E_OUTOFMEMORY : E_INVALIDARG);
    return child;
}

void login(kx_server_rec* server, const WCHAR* transport, const WCHAR* user_name, const WCHAR* password) {
    if (wide_to_ansi(transport) != "HTTP") {
        kx_server_set_style(server, KX_AUTH_RPC);
        return;
    }
    kx_server_set_style(server, KX_AUTH_LOGIN);
    if (!kx_server_set_login(server, wide_to_ansi(user_name).c_str(), wide_to_ansi(password).c_str()))
        FAPI_RAISE(E_OUTOFMEMORY);
}

ServerHandlePtr open_server_handle(const WCHAR* filer_name, const WCHAR* transport, const WCHAR* user_name,
                                   const WCHAR* password) {
    CCriticalSectionHolder hold(&g_fapiLock);
    ServerHandlePtr server(kx_server_create(wide_to_ansi(filer_name).c_str(), 1, 0));
    if (!server) FAPI_RAISE(E_OUTOFMEMORY);
    login(server.get(), transport, user_name, password);
    return server;
}

void trace_fapi_call(const WCHAR* request, const char* file, int line) {
    debug_print_ex(nullptr, u"The '%s' FAPI is being called.\n", ansi_to_wide(file).c_str(), line, request);
}

bool fapi_elem::has_child(const char* name) const { return kx_elem_find_child(mutable_elem(elem_), name) != nullptr; }

fapi_elem fapi_elem::child(const char* name) const {
    return fapi_elem(elem_ ? kx_elem_find_child(mutable_elem(elem_), name) : nullptr);
}

std::string fapi_elem::narrow_text(const char* name) const { return child_text(elem_, name); }
std::u16string fapi_elem::text(const char* name) const { return ansi_to_wide(child_text(elem_, name)); }
int32_t fapi_elem::int32_value(const char* name) const { return leading_decimal<int32_t>(child_text(elem_, name)); }
int64_t fapi_elem::int64_value(const char* name) const { return leading_decimal<int64_t>(child_text(elem_, name)); }
uint64_t fapi_elem::uint64_value(const char* name) const { return leading_decimal<uint64_t>(child_text(elem_, name)); }
bool fapi_elem::bool_value(const char* name) const { return bool_from_string(child_text(elem_, name)); }

int32_t fapi_elem::enum_value(const enum_name_table& table, const char* name) const {
    return table.enum_from_name(child_text(elem_, name));
}

const kx_elem_rec* fapi_elem::first_child() const { return elem_ ? kx_children_begin(mutable_elem(elem_)) : nullptr; }

const kx_elem_rec* fapi_elem::next_sibling(const kx_elem_rec* elem) {
    kx_elem_rec* cursor = mutable_elem(elem);
    kx_children_next(&cursor);
    return cursor;
}

fapi_reply::fapi_reply(ElemHandlePtr results) : fapi_results(results.get()), results_(std::move(results)) {}

bool fapi_results::passed() const { return kx_results_passed(mutable_elem(get())) != 0; }
int32_t fapi_results::error_number() const { return kx_results_errno_value(mutable_elem(get())); }

std::u16string fapi_results::reason() const {
    const char* reason = kx_results_reason_text(mutable_elem(get()));
    return reason ? ansi_to_wide(reason) : std::u16string();
}

fapi_request::fapi_request(kx_server_rec* server, const char* name)
    : server_(server), name_(name), request_(kx_elem_create(name)) {
    if (!request_) FAPI_RAISE(E_OUTOFMEMORY);
}

fapi_request& fapi_request::add(const char* child, const WCHAR* value) {
    if (value) add_child_utf8(request_.get(), child, wide_to_ansi(value).c_str());
    return *this;
}

fapi_request& fapi_request::add_ansi(const char* child, const char* value) {
    if (value) add_child_utf8(request_.get(), child, value);
    return *this;
}

fapi_request& fapi_request::add_bool(const char* child, bool value) { return add_ansi(child, bool_to_string(value)); }

fapi_reply fapi_request::invoke(const char* file, int line) {
    trace_fapi_call(ansi_to_wide(name_).c_str(), file, line);
    ElemHandlePtr results(kx_server_invoke_elem(server_, request_.get()));
    if (!results) FAPI_RAISE(E_OUTOFMEMORY);
    return fapi_reply(std::move(results));
}

void parse_igroup_info_list(const fapi_elem& list, std::vector<fapi_igroup_info_t>& groups) {
    list.for_each_child([&](const fapi_elem& entry) {
        auto& group = groups.emplace_back();
        group.name = entry.text("initiator-group-name");
        group.os_type = entry.enum_value(igroup_os_type_table, "initiator-group-os-type");
        group.type = igroup_type_from_string(entry.narrow_text("initiator-group-type"));
        entry.for_each_child("initiators", [&](const fapi_elem& initiator) {
            group.initiators.push_back(initiator.text("initiator-name"));
        });
        group.lun_id = entry.int32_value("lun-id");
    });
}

void read_system_info(const fapi_elem& info, fapi_system_info_t& record) {
    record.system_name = info.narrow_text("system-name");
    record.system_serial_number = info.narrow_text("system-serial-number");
    record.system_id = info.text("system-id");
    record.system_model = info.text("system-model");
    record.vendor_id = info.text("vendor-id");
}
