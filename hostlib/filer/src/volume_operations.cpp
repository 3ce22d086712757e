// Volumes and qtrees: listing, creation and destruction, state, renaming,
// sizing, cloning, options, autosize and the root volume's name.
#include <filer/filer_classes.h>
#include <platform/text.h>

#include "fapi_raise.h"
#include "operation_support.h"

namespace {

bool equal_nocase(std::string_view a, std::string_view b) { return platform::compare_narrow_nocase(a, b) == 0; }

void read_volume(const fapi_elem& entry, fapi_volume_info_t& volume) {
    volume.name = entry.text("name");
    volume.uuid = entry.text("uuid");
    volume.state = entry.enum_value(volume_state_table, "state");
    volume.size_available = entry.int64_value("size-available");
}

void read_qtree(const fapi_elem& entry, fapi_qtree_info_t& qtree) {
    qtree.qtree = entry.text("qtree");
    qtree.security_style = entry.text("security-style");
    qtree.volume = entry.text("volume");
    qtree.id = entry.int32_value("id");
    qtree.oplocks = entry.bool_value("oplocks");
}

}  // namespace

void CFilerREL64::fapi_volume_list_info(std::vector<fapi_volume_info_t>& volumes) {
    volumes.clear();
    auto server = open_server();
    fapi_request request(server.get(), "volume-list-info");
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_VOLUME_LIST_INFO, get_filer_name(), reply.error_number(), reply.reason());
    volumes.reserve(200);
    reply.for_each_child("volumes", [&](const fapi_elem& entry) { read_volume(entry, volumes.emplace_back()); });
}

void CFilerREL64::fapi_volume_get_root_name(std::u16string& volume) {
    auto server = open_server();
    fapi_request request(server.get(), "volume-get-root-name");
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_VOLUME_GET_ROOT_NAME, get_filer_name(), reply.error_number(), reply.reason());
    volume = reply.text("volume");
}

// The children follow the appliance's order, not the arguments'.
void CFilerTovren::fapi_volume_create(const WCHAR* volume, const WCHAR* aggregate, const WCHAR* size,
                                      const WCHAR* space_reserve) {
    auto server = open_server();
    fapi_request request(server.get(), "volume-create");
    request.add("containing-aggr-name", aggregate).add("volume", volume).add("size", size).add("space-reserve",
                                                                                                space_reserve);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_VOLUME_CREATE, get_filer_name(), reply.error_number(), reply.reason());
}

void CFilerTovren::fapi_volume_destroy(const WCHAR* volume) {
    auto server = open_server();
    fapi_request request(server.get(), "volume-destroy");
    request.add("name", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) {
        debug_print(u"****VOLUME DESTROY FAILED: '%s'", u"" __FILE__, __LINE__, volume);
        FAPI_RAISE(res::MSG_FAPI_VOLUME_DESTROY, volume, reply.error_number(), reply.reason());
    }
}

void CFilerTovren::fapi_volume_offline(const WCHAR* volume, std::optional<uint32_t> cifs_delay) {
    auto server = open_server();
    fapi_request request(server.get(), "volume-offline");
    request.add("name", volume).add("cifs-delay", cifs_delay);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) {
        debug_print(u"****VOLUME OFFLINE FAILED: '%s'", u"" __FILE__, __LINE__, volume);
        FAPI_RAISE(res::MSG_FAPI_VOLUME_OFFLINE, volume, get_filer_name(), reply.reason());
    }
    debug_print(u"Volume offlined: '%s'", u"" __FILE__, __LINE__, volume);
}

void CFilerTovren::fapi_volume_online(const WCHAR* volume) {
    auto server = open_server();
    fapi_request request(server.get(), "volume-online");
    request.add("name", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) {
        debug_print(u"****VOLUME ONLINE FAILED: '%s'", u"" __FILE__, __LINE__, volume);
        FAPI_RAISE(res::MSG_FAPI_VOLUME_ONLINE, volume, get_filer_name(), reply.reason());
    }
    debug_print(u"Volume online: '%s'", u"" __FILE__, __LINE__, volume);
}

void CFilerTovren::fapi_volume_rename(const WCHAR* new_name, const WCHAR* volume) {
    auto server = open_server();
    fapi_request request(server.get(), "volume-rename");
    request.add("new-volume-name", new_name).add("volume", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_VOLUME_RENAME, get_filer_name(), reply.error_number(), reply.reason());
}

// Without a new size the request only reads the volume's size.
void CFilerPellion::fapi_volume_size(const WCHAR* new_size, const WCHAR* volume, std::u16string& size) {
    auto server = open_server();
    fapi_request request(server.get(), "volume-size");
    if (has_text(new_size)) request.add("new-size", new_size);
    request.add("volume", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_VOLUME_SIZE, volume, reply.error_number(), reply.reason());
    size = reply.text("volume-size");
    debug_print(u"volume size =  %s", u"" __FILE__, __LINE__, size);
}

void CFilerPellion::fapi_volume_clone_create(const WCHAR* parent_volume, const WCHAR* parent_snapshot,
                                             const WCHAR* space_reserve, const WCHAR* clone_volume) {
    auto server = open_server();
    fapi_request request(server.get(), "volume-clone-create");
    request.add("parent-snapshot", parent_snapshot)
        .add("parent-volume", parent_volume)
        .add("space-reserve", space_reserve)
        .add("volume", clone_volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_VOLUME_CLONE_CREATE, parent_snapshot, parent_volume, space_reserve, clone_volume,
                   reply.error_number(), reply.reason());
}

// The flags start as a volume without the options has them, also when the
// request fails; a later entry never sets a flag back.
void CFilerTovren::fapi_volume_options_list_info(const WCHAR* volume, int32_t& create_ucode, int32_t& convert_ucode,
                                                 int32_t& nosnapdir) {
    create_ucode = 0;
    convert_ucode = 0;
    nosnapdir = 1;
    auto server = open_server();
    fapi_request request(server.get(), "volume-options-list-info");
    request.add("volume", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_VOLUME_OPTIONS_LIST_INFO, volume, get_filer_name(), reply.reason());
    reply.for_each_child("options", [&](const fapi_elem& option) {
        if (!option.has_child("name")) return;
        const std::string name = option.narrow_text("name");
        const std::string value = option.narrow_text("value");
        if (equal_nocase(name, "create_ucode") && equal_nocase(value, "on")) create_ucode = 1;
        if (equal_nocase(name, "convert_ucode") && equal_nocase(value, "on")) convert_ucode = 1;
        if (equal_nocase(name, "nosnapdir") && equal_nocase(value, "off")) nosnapdir = 0;
    });
}

void CFilerTovren::fapi_volume_set_option(const WCHAR* volume, const char* option_name, const char* option_value) {
    auto server = open_server();
    fapi_request request(server.get(), "volume-set-option");
    request.add("volume", volume).add_ansi("option-name", option_name).add_ansi("option-value", option_value);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_VOLUME_SET_OPTION, widened(option_name), widened(option_value), volume,
                   get_filer_name(), reply.reason());
}

void CFilerOskarn::fapi_volume_autosize_get(const WCHAR* volume, std::u16string& enabled, std::u16string& increment,
                                            std::u16string& maximum) {
    auto server = open_server();
    fapi_request request(server.get(), "volume-autosize-get");
    request.add("volume", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_VOLUME_AUTOSIZE_GET, volume, get_filer_name(), reply.reason());
    enabled = reply.text("is-enabled");
    increment = reply.text("increment-size");
    maximum = reply.text("maximum-size");
}

void CFilerQuilbe1::fapi_qtree_list(const WCHAR* volume, std::vector<fapi_qtree_info_t>& qtrees) {
    qtrees.clear();
    auto server = open_server();
    fapi_request request(server.get(), "qtree-list");
    request.add("volume", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_QTREE_LIST, volume, get_filer_name(), reply.error_number(), reply.reason());
    reply.for_each_child("qtrees", [&](const fapi_elem& entry) { read_qtree(entry, qtrees.emplace_back()); });
}

void CFilerQuilbe1::fapi_qtree_create(const WCHAR* qtree, const WCHAR* volume) {
    auto server = open_server();
    fapi_request request(server.get(), "qtree-create");
    request.add("qtree", qtree).add("volume", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_QTREE_CREATE, volume, get_filer_name(), reply.error_number(), reply.reason());
}
