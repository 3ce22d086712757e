#include <filer/filer_classes.h>
#include <filer/filer_version.h>

#include <new>

#include "fapi_raise.h"

namespace {
std::u16string copy_of(const WCHAR* text) { return text ? std::u16string(text) : std::u16string(); }
}  // namespace

ServerHandlePtr CFilerImpl::open_server() const {
    return open_server_handle(get_filer_name(), get_transport().c_str(), get_user_name().c_str(),
                              get_password().c_str());
}

void get_filer_version(const WCHAR* transport, const WCHAR* filer_name, const WCHAR* user_name, const WCHAR* password,
                       std::u16string& version) {
    version.clear();
    auto server = open_server_handle(filer_name, transport, user_name, password);
    fapi_request request(server.get(), "system-get-version");
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_GET_VERSION, copy_of(filer_name), reply.reason());
    version = reply.text("version");
}

// The release is asked for on every call: an appliance may have been upgraded.
void create_filer(const WCHAR* transport, const WCHAR* filer_name, const WCHAR* user_name, const WCHAR* password,
                  owned_ptr<CFiler>& filer) {
    filer.reset();
    std::u16string text;
    get_filer_version(transport, filer_name, user_name, password, text);
    const filer_version release = filer_version::from_string(text);
    const filer_version minimum(7, 0, 2);
    if (release < minimum) FAPI_RAISE(res::MSG_FAPI_VERSION_NOT_SUPPORTED, text, copy_of(filer_name), minimum.text());

    owned_ptr<CFiler> made;
    try {
        if (release < filer_version(7, 1))
            made.reset(new CFilerPellion1(filer_name, text.c_str()));
        else if (release == filer_version(7, 1))
            made.reset(new CFilerOskarn(filer_name, text.c_str()));
        else
            made.reset(new CVintrel(filer_name, text.c_str()));
    } catch (const std::bad_alloc&) {
        FAPI_RAISE(E_OUTOFMEMORY);
    }
    made->set_transport(transport);
    made->set_user_name(user_name);
    made->set_password(password);
    filer = std::move(made);
}
