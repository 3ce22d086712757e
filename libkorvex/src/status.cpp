#include <korvex/status.h>

#include <cstdio>
#include <iterator>

namespace {

struct StatusEntry {
    int code;
    const char* text;
    int error;
};

constexpr StatusEntry kStatuses[] = {
    {204, "No content", KX_ERR_TRANSPORT},
    {301, "Moved permanently", KX_ERR_TRANSPORT},
    {400, "Bad request", KX_ERR_TRANSPORT},
    {401, "Authorization failed", KX_ERR_AUTH},
    {402, "Payment required", KX_ERR_TRANSPORT},
    {403, "Forbidden", KX_ERR_TRANSPORT},
    {404, "URL not found", KX_ERR_TRANSPORT},
    {405, "Method not allowed", KX_ERR_TRANSPORT},
    {406, "Not acceptable", KX_ERR_TRANSPORT},
    {407, "Proxy authentication required", KX_ERR_AUTH},
    {408, "Request timeout", KX_ERR_TRANSPORT},
    {409, "Conflict", KX_ERR_TRANSPORT},
    {410, "Gone", KX_ERR_TRANSPORT},
    {411, "Length required", KX_ERR_TRANSPORT},
    {412, "Precondition failed", KX_ERR_TRANSPORT},
    {413, "Request entity too large", KX_ERR_TRANSPORT},
    {414, "Request-URI too long", KX_ERR_TRANSPORT},
    {415, "Unsupported media type", KX_ERR_TRANSPORT},
    {500, "Internal error", KX_ERR_TRANSPORT},
    {501, "Not implemented", KX_ERR_TRANSPORT},
    {502, "Bad Gateway", KX_ERR_TRANSPORT},
    {503, "Service unavailable", KX_ERR_TRANSPORT},
    {504, "Gateway timeout", KX_ERR_TRANSPORT},
    {505, "HTTP version not supported", KX_ERR_TRANSPORT},
    {551, "Call succeeded, but can't allocate debugging parsing bypass buffer", KX_ERR_BUFFER},
    {552, "Call succeeded, but can't allocate reply XML buffer", KX_ERR_BUFFER},
    {553, "Can't allocate request XML buffer", KX_ERR_BUFFER},
    {554, "Can't connect to host", KX_ERR_CONNECT},
    {555, "Can't connect using 'hostequiv' (no permission, must be root)", KX_ERR_CONNECT},
    {556, "Can't decode the embedded 'Content-length' value from the reply", KX_ERR_TRANSPORT},
    {557, "Can't decode the embedded status/outcome value from the reply", KX_ERR_TRANSPORT},
    {558, "Can't encode request", KX_ERR_TRANSPORT},
    {559, "Can't read reply header (line 1)", KX_ERR_REPLY_HEADER},
    {560, "Can't read reply header (line 2)", KX_ERR_REPLY_HEADER},
    {561, "Can't read reply header (line 3)", KX_ERR_REPLY_HEADER},
    {562, "Can't write request headers", KX_ERR_TRANSPORT},
    {563, "Can't write request payload", KX_ERR_TRANSPORT},
    {564, "Call succeeded, but reply was consumed by debugging code", KX_ERR_REPLY_HEADER},
    {565, "Server unexpectedly dropped the connection for this request", KX_ERR_TRANSPORT},
};

constexpr const char* kWireNames[] = {"HTTP POST", "QSM"};

const StatusEntry* find_status(int code) {
    for (const StatusEntry& e : kStatuses)
        if (e.code == code) return &e;
    return nullptr;
}

}  // namespace

char* kx_status_text(int code, int wireIndex, int detail, char* buffer, size_t size) {
    if (!buffer || size == 0) return buffer;
    const bool knownWire = wireIndex >= 0 && wireIndex < static_cast<int>(std::size(kWireNames));
    const char* wire = knownWire ? kWireNames[wireIndex] : "";
    const StatusEntry* e = find_status(code);
    if (!e) std::snprintf(buffer, size, "%s - failed, status code = %d", wire, code);
    else if (detail != 0) std::snprintf(buffer, size, "%s - %s (%d)", wire, e->text, detail);
    else std::snprintf(buffer, size, "%s - %s", wire, e->text);
    return buffer;
}

int kx_status_errno(int code) {
    const StatusEntry* e = find_status(code);
    return e ? e->error : KX_ERR_TRANSPORT;
}
