// Questions about a volume that 7.1 answers with requests of its own: the
// containing aggregate, the space guarantee and autosize settings, snapshot
// auto-delete, the reserve figures, and clone children.
#include <filer/filer_classes.h>
#include <platform/text.h>

#include "fapi_raise.h"

namespace {

bool equal_nocase(std::string_view a, std::string_view b) { return platform::compare_narrow_nocase(a, b) == 0; }

fapi_reply list_volume_options(kx_server_rec* server, const WCHAR* volume, const WCHAR* filer_name) {
    fapi_request request(server, "volume-options-list-info");
    request.add("volume", volume);
    fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_VOLUME_OPTIONS_LIST_INFO, volume, filer_name, reply.reason());
    return reply;
}

// "volume-list-info" of one volume; `visit` sees its entry. An entry for
// another volume is not an answer to the question asked.
template <typename Visit>
void visit_volume_entry(kx_server_rec* server, const WCHAR* volume, const WCHAR* filer_name, Visit&& visit) {
    fapi_request request(server, "volume-list-info");
    request.add("volume", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_VOLUME_OPTIONS, volume, filer_name, reply.error_number(), reply.reason());
    const std::u16string wanted = volume ? volume : u"";
    reply.for_each_child("volumes", [&](const fapi_elem& entry) {
        const std::u16string name = entry.text("name");
        // The reply passed, so it carries no error of its own: its number and
        // reason read as those of any passed reply do when they are raised.
        if (!platform::equal_wide_nocase(name, wanted))
            FAPI_RAISE(res::MSG_FAPI_VOLUME_OPTIONS, volume, filer_name, reply.error_number(), std::u16string(u"Unknown"));
        visit(entry);
    });
}

}  // namespace

bool CFilerOskarn::is_trell_volume(const WCHAR* volume, std::u16string& aggregate) {
    auto server = open_server();
    fapi_request request(server.get(), "volume-container");
    request.add("volume", volume);
    const fapi_reply reply = request.invoke();
    // A volume without an aggregate is the answer "no", whatever the reason.
    if (!reply.passed()) return false;
    aggregate = reply.text("containing-aggregate");
    return true;
}

void CFilerOskarn::get_trell_volume_info(const WCHAR* volume, std::u16string& space_guarantee,
                                         std::u16string& autosize_enabled, std::u16string& autosize_increment,
                                         std::u16string& autosize_maximum) {
    {
        auto server = open_server();
        const fapi_reply reply = list_volume_options(server.get(), volume, get_filer_name());
        // The last option of that name counts.
        reply.for_each_child("options", [&](const fapi_elem& option) {
            if (equal_nocase(option.narrow_text("name"), "actual_guarantee")) space_guarantee = option.text("value");
        });
    }
    fapi_volume_autosize_get(volume, autosize_enabled, autosize_increment, autosize_maximum);
}

void CFilerOskarn::get_snapshot_auto_delete_settings(const WCHAR* volume, std::u16string& state,
                                                     std::u16string& defer_delete, std::u16string& prefix) {
    auto server = open_server();
    fapi_request request(server.get(), "snapshot-autodelete-list-info");
    request.add("volume", volume);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_SNAPSHOT_AUTODELETE_LIST_INFO, volume, get_filer_name(), reply.reason());
    const struct {
        const char* name;
        std::u16string& output;
    } outputs[] = {{"state", state}, {"defer_delete", defer_delete}, {"prefix", prefix}};
    reply.for_each_child("options", [&](const fapi_elem& option) {
        const std::string name = option.narrow_text("option-name");
        for (const auto& o : outputs)
            if (equal_nocase(name, o.name)) {
                o.output = option.text("option-value");
                break;
            }
    });
}

void CFilerOskarn::get_space_reservations_info(const WCHAR* volume, uint64_t& reserved, uint64_t& reserve_required,
                                               uint64_t& reserve_used, uint64_t& reserve_available,
                                               int32_t& available_percent, int32_t& fractional_reserve) {
    reserved = reserve_required = reserve_used = reserve_available = 0;
    available_percent = fractional_reserve = 0;
    {
        auto server = open_server();
        visit_volume_entry(server.get(), volume, get_filer_name(), [&](const fapi_elem& entry) {
            if (!entry.has_child("state") || !equal_nocase(entry.narrow_text("state"), "online"))
                FAPI_RAISE(res::MSG_FAPI_VOLUME_NOT_ONLINE, volume, get_filer_name(),
                           entry.has_child("state") ? entry.text("state") : std::u16string(u"Unknown Status"));
            reserved = entry.uint64_value("reserve");
            reserve_required = entry.uint64_value("reserve-required");
            reserve_used = entry.uint64_value("reserve-used");
            reserve_available = reserved - reserve_used;
            if (reserved != 0) available_percent = static_cast<int32_t>(reserve_available * 100 / reserved);
        });
    }
    auto server = open_server();
    const fapi_reply reply = list_volume_options(server.get(), volume, get_filer_name());
    bool found = false;
    reply.for_each_child("options", [&](const fapi_elem& option) {
        if (found || !equal_nocase(option.narrow_text("name"), "fractional_reserve")) return;
        fractional_reserve = option.int32_value("value");
        found = true;
    });
}

bool CFilerOskarn::snapshot_already_trell_clone(const WCHAR* volume, const WCHAR* clone) {
    const std::string prefix = wide_to_ansi(clone);
    bool found = false;
    auto server = open_server();
    visit_volume_entry(server.get(), volume, get_filer_name(), [&](const fapi_elem& entry) {
        entry.for_each_child("clone-children", [&](const fapi_elem& child) {
            const std::string name = child.narrow_text("clone_child-name");
            if (name.size() >= prefix.size() && equal_nocase(std::string_view(name).substr(0, prefix.size()), prefix))
                found = true;
        });
    });
    return found;
}
