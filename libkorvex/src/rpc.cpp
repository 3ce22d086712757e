#include <korvex/elem.h>
#include <korvex/http.h>
#include <korvex/reply.h>
#include <korvex/server.h>
#include <korvex/status.h>
#include <korvex/transports.h>

#include <adt/pool.h>
#include <adt/str.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <platform/memory.h>
#include <platform/message.h>
#include <platform/text.h>
#include <string>

#include "invoke_common.h"

namespace {

constexpr const char* kRpcSystemId = "file:/etc/korvex_filer.dtd";

// The library's error as a reply of its own, so that it parses like any other.
// The system text goes into an attribute value and is escaped for it.
char* synthetic_failure(unsigned int code) {
    char* system = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&system), 0, nullptr);
    std::string text;
    for (const char* p = n && system ? system : "FormatMessage failed to create error message"; *p; ++p) {
        switch (*p) {
            case '&': text += "&amp;"; break;
            case '<': text += "&lt;"; break;
            case '"': text += "&quot;"; break;
            default: text += *p;
        }
    }
    if (system) LocalFree(system);
    return string_printf(
        "<korvex version='1.1'><results status=\"failed\" reason=\"RPC Error - %s\" errno=\"%d\"></results></korvex>",
        text.c_str(), KX_ERR_TRANSPORT);
}

}  // namespace

char* kx_rpc_call(const char* host, const char* document) {
    const kx_fapi_invoke_fn invoke = kx_fapi_entry();
    if (!invoke || !host || !document) return nullptr;
    const auto wideHost = platform::utf8_to_wide(host);
    const auto wideDocument = platform::utf8_to_wide(document);
    if (!wideHost || !wideDocument) return nullptr;
    char16_t* reply = nullptr;
    const unsigned int rc = invoke(wideHost->c_str(), wideDocument->c_str(), &reply);
    if (rc != 0) {
        if (reply) LocalFree(reply);
        return synthetic_failure(rc);
    }
    std::optional<std::string> text = reply ? platform::wide_to_utf8(reply) : std::string();
    if (reply) LocalFree(reply);
    return text ? pool_strdup(nullptr, text->c_str(), ADT_HERE) : nullptr;
}

kx_elem_rec* kx_invoke_rpc(kx_server_rec* s, kx_elem_rec* request) {
    kx_elem_rec* temporaryRoot = nullptr;
    char* document = kx_request_document(s, request, kRpcSystemId, KX_RPC_PREFIX_MAX, &temporaryRoot);
    char* reply = nullptr;
    kx_elem_rec* outcome = nullptr;
    if (!document) outcome = kx_failed(nullptr, KX_ERR_PARSE);
    else if (!kx_fapi_entry()) outcome = kx_failed("Failed to load kvxadmin.dll", KX_ERR_TRANSPORT);
    else if (!(reply = kx_rpc_call(s->host, document))) outcome = kx_failed("Error in FapiInvoke RPC", KX_ERR_TRANSPORT);
    kx_request_unwrap(temporaryRoot, request);
    pool_free(nullptr, document, ADT_HERE);
    if (outcome) return outcome;

    if (s->debugStyle == KX_DEBUG_PRINT_REPLY) {
        std::printf("%s\n", reply);
        outcome = kx_failed("debugging bypassed xml parsing", KX_ERR_TRANSPORT);
    } else if (xml_context_rec* context = xml_create()) {
        outcome = xml_parse_string(reply, context) ? kx_reply_outcome(context)
                                                   : kx_failed("Unable to allocate memory in xml_parse_string.", ENOMEM);
        xml_destroy(context);
    } else {
        outcome = kx_failed("Unable to allocate memory in xml_create.", ENOMEM);
    }
    pool_free(nullptr, reply, ADT_HERE);
    return outcome;
}
