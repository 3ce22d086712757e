#pragma once
// The frame every filer operation follows: open and log in a server handle
// (under g_fapiLock), build one request element with its children, invoke it,
// test the reply's status, read the reply, and free the reply, the request and
// the server handle, in that order, on every path.
//
//   auto server = open_server();
//   fapi_request request(server.get(), "lun-destroy");
//   request.add("path", path).add("force", force);
//   const fapi_reply reply = request.invoke();
//   if (!reply.passed()) FAPI_RAISE(..., reply.error_number(), reply.reason());
#include <filer/enum_tables.h>
#include <filer/records.h>
#include <platform/critical_section.h>
#include <platform/types.h>

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct kx_elem_rec;
struct kx_server_rec;

// Serialises the creation and login of management-API server handles, never a request on the wire.
extern CRITICAL_SECTION g_fapiLock;

// Owning holders of one server handle and of one element tree; both free what they hold, if anything.
class ServerHandlePtr {
public:
    ServerHandlePtr() = default;
    explicit ServerHandlePtr(kx_server_rec* server) : server_(server) {}
    ServerHandlePtr(ServerHandlePtr&& other) noexcept : server_(other.release()) {}
    ServerHandlePtr& operator=(ServerHandlePtr&& other) noexcept;
    ~ServerHandlePtr() { Reset(); }

    // Destroys the held handle before taking the new one.
    void Reset(kx_server_rec* server = nullptr);
    kx_server_rec* get() const { return server_; }
    kx_server_rec* release();
    explicit operator bool() const { return server_ != nullptr; }

private:
    kx_server_rec* server_ = nullptr;
};

class ElemHandlePtr {
public:
    ElemHandlePtr() = default;
    explicit ElemHandlePtr(kx_elem_rec* elem) : elem_(elem) {}
    ElemHandlePtr(ElemHandlePtr&& other) noexcept : elem_(other.release()) {}
    ElemHandlePtr& operator=(ElemHandlePtr&& other) noexcept;
    ~ElemHandlePtr() { Reset(); }

    void Reset(kx_elem_rec* elem = nullptr);
    kx_elem_rec* get() const { return elem_; }
    kx_elem_rec* release();
    explicit operator bool() const { return elem_ != nullptr; }

private:
    kx_elem_rec* elem_ = nullptr;
};

// The login rule: a transport named exactly "HTTP" logs in with the user name
// and password; any other name hands the request to the administration library.
void login(kx_server_rec* server, const WCHAR* transport, const WCHAR* user_name, const WCHAR* password);

// Creates a server handle for the appliance (management API 1.0) and logs it
// in, holding g_fapiLock for exactly that span. E_OUTOFMEMORY when no handle can be made.
ServerHandlePtr open_server_handle(const WCHAR* filer_name, const WCHAR* transport, const WCHAR* user_name,
                                   const WCHAR* password);

// Text across the management API. Wide text goes to the ANSI code page, ANSI
// text through wide text to UTF-8; a failed conversion raises HRESULT_FROM_WIN32
// of the system error (an empty text fails with 0x80070057).
std::string wide_to_ansi(const WCHAR* text);
std::string ansi_to_utf8(std::string_view ansi);
std::u16string ansi_to_wide(std::string_view ansi);
// Adds one child whose text is the ANSI value in UTF-8; returns the child.
kx_elem_rec* add_child_utf8(kx_elem_rec* parent, const char* name, const char* ansi_value);

// Hands "The '%s' FAPI is being called." to the debug-message hook.
void trace_fapi_call(const WCHAR* request, const char* file, int line);

// A read-only view of a reply element. A missing child reads as the empty
// text: numbers 0, enumerations the table's default, texts empty; a missing or
// unknown boolean raises 0xC00402FF.
class fapi_elem {
public:
    explicit fapi_elem(const kx_elem_rec* elem = nullptr) : elem_(elem) {}

    const kx_elem_rec* get() const { return elem_; }
    explicit operator bool() const { return elem_ != nullptr; }

    bool has_child(const char* name) const;
    fapi_elem child(const char* name) const;
    // The child's bytes as they arrived (ANSI code page text).
    std::string narrow_text(const char* name) const;
    std::u16string text(const char* name) const;
    int32_t int32_value(const char* name) const;    // leading decimal digits, as atoi reads them
    int64_t int64_value(const char* name) const;    // the same in 64 bits
    uint64_t uint64_value(const char* name) const;  // unsigned decimal
    bool bool_value(const char* name) const;
    int32_t enum_value(const enum_name_table& table, const char* name) const;

    // Visits the element's own children in document order, whatever their names.
    template <std::invocable<const fapi_elem&> Visit>
    void for_each_child(Visit&& visit) const {
        for (const kx_elem_rec* c = first_child(); c; c = next_sibling(c)) visit(fapi_elem(c));
    }
    // Visits the children of the named child; none when it is missing.
    template <std::invocable<const fapi_elem&> Visit>
    void for_each_child(const char* list, Visit&& visit) const {
        child(list).for_each_child(std::forward<Visit>(visit));
    }

private:
    const kx_elem_rec* first_child() const;
    static const kx_elem_rec* next_sibling(const kx_elem_rec* elem);

    const kx_elem_rec* elem_;
};

// The outcome of a `results` element.
class fapi_results : public fapi_elem {
public:
    explicit fapi_results(const kx_elem_rec* results) : fapi_elem(results) {}

    bool passed() const;
    // -1 when the reply carries none.
    int32_t error_number() const;
    // Widened; "Unknown" for a failed reply without one, empty for a passed reply.
    std::u16string reason() const;
};

// The `results` element of one request, owned.
class fapi_reply : public fapi_results {
public:
    explicit fapi_reply(ElemHandlePtr results);

private:
    ElemHandlePtr results_;
};

// One request element on a server handle that the caller holds (so one handle
// may serve several requests). Children are added in call order.
class fapi_request {
public:
    fapi_request(kx_server_rec* server, const char* name);

    // Wide text: null leaves the child out.
    fapi_request& add(const char* child, const WCHAR* value);
    fapi_request& add(const char* child, const std::u16string& value) { return add(child, value.c_str()); }
    // ANSI text: null leaves the child out.
    fapi_request& add_ansi(const char* child, const char* value);
    // Integers as decimal text.
    template <std::integral T>
    requires(!std::same_as<T, bool>) fapi_request& add(const char* child, T value) {
        return add_ansi(child, std::to_string(value).c_str());
    }
    fapi_request& add_bool(const char* child, bool value);
    // An empty optional leaves the child out.
    template <typename T>
    fapi_request& add(const char* child, const std::optional<T>& value) {
        if (!value) return *this;
        if constexpr (std::same_as<T, bool>)
            return add_bool(child, *value);
        else
            return add(child, *value);
    }

    kx_elem_rec* element() const { return request_.get(); }
    const std::string& name() const { return name_; }

    // Traces the call, with the caller's file and line, and sends the request.
    // Every failure of the exchange comes back as a failed reply. (The
    // builtins, not std::source_location, which clang 14 cannot build with
    // this standard library.)
    fapi_reply invoke(const char* file = __builtin_FILE(), int line = __builtin_LINE());

private:
    kx_server_rec* server_;
    std::string name_;
    ElemHandlePtr request_;
};

// A CHAP secret as an encrypted child (built-in key): its first min(count, 500)
// bytes, zero bytes included; a secret of no bytes adds nothing.
inline constexpr size_t kMaxSecretBytes = 500;
void add_secret_child(fapi_request& request, const char* child, std::span<const BYTE> secret);

// Shared reply readers: one initiator group per child of `list`, appended;
// and the five values of "system-get-info".
void parse_igroup_info_list(const fapi_elem& list, std::vector<fapi_igroup_info_t>& groups);
void read_system_info(const fapi_elem& info, fapi_system_info_t& record);
