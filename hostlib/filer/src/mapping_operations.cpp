// LUN mapping, initiator groups, and the appliance's Fibre Channel and iSCSI
// target adapters with the initiators logged in through them.
#include <arpa/inet.h>
#include <filer/filer_classes.h>
#include <platform/clock.h>
#include <platform/text.h>

#include <set>

#include "fapi_raise.h"
#include "operation_support.h"

namespace {

constexpr DWORD kBreakRetryDelayMs = 5000;
const WCHAR* const kAllAdapters = u"<All adapters>";

bool is_true_word(std::string_view word) {
    return platform::compare_narrow_nocase(word, "true") == 0 || platform::compare_narrow_nocase(word, "enabled") == 0;
}

void read_fcp_adapter(const fapi_elem& entry, fapi_fcp_adapter_info_t& adapter) {
    adapter.adapter = entry.narrow_text("adapter");
    adapter.node_name = entry.narrow_text("node-name");
    adapter.adapter_type = entry.narrow_text("adapter-type");
    adapter.port_id = entry.int32_value("port-id");
    adapter.port_address = entry.int32_value("port-address");
    adapter.port_name = entry.narrow_text("port-name");
    // A standby port is reported as a true word; anything else is an active port.
    adapter.standby = is_true_word(entry.narrow_text("standby"));
    adapter.media_type = entry.narrow_text("media-type");
    if (entry.has_child("state")) adapter.state = entry.narrow_text("state");
}

void read_fcp_initiator(const fapi_elem& entry, fapi_fcp_initiator_info_t& initiator) {
    wwn_from_ansi_string(entry.narrow_text("node-name"), initiator.node_name);
    wwn_from_ansi_string(entry.narrow_text("port-name"), initiator.port_name);
    initiator.port_address = entry.text("port-address");
    initiator.initiator_groups.reserve(3);
    entry.for_each_child("initiator-group-list", [&](const fapi_elem& group) {
        initiator.initiator_groups.push_back(group.text("initiator-group-name"));
    });
}

void read_iscsi_adapter(const fapi_elem& entry, fapi_iscsi_adapter_info_t& adapter) {
    adapter.name = entry.narrow_text("name");
    adapter.state = iscsi_adapter_state_from_string(entry.narrow_text("state"));
    if (entry.has_child("status")) adapter.status = entry.narrow_text("status");
    entry.for_each_child("portal-addresses", [&](const fapi_elem& portal) {
        auto& address = adapter.portal_addresses.emplace_back();
        address.id = portal.int32_value("id");
        address.address = inet_addr(portal.narrow_text("inet-address").c_str());
        address.port = portal.int32_value("port");
    });
}

void read_iscsi_initiator(const fapi_elem& entry, fapi_iscsi_connected_initiator_t& initiator) {
    initiator.initiator_name = entry.text("initiator-name");
    initiator.portal_group_id = entry.int32_value("portal-group-id");
    initiator.isid = isid_from_string(entry.narrow_text("isid"));
}

}  // namespace

void CFilerQuilbe1::fapi_lun_map_list_info(const WCHAR* path, std::vector<fapi_igroup_info_t>& groups) {
    groups.clear();
    auto server = open_server();
    fapi_request request(server.get(), "lun-map-list-info");
    request.add("path", path);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_LUN_MAP_LIST_INFO, path, get_filer_name(), reply.reason());
    parse_igroup_info_list(reply.child("initiator-groups"), groups);
}

// After a replication break a LUN answers as missing (9017) for a while; ask
// again until it answers. A count of N allows N + 1 requests, each unavailable
// answer followed by a pause.
bool CFilerQuilbe1::wait_lun_available_after_break(const WCHAR* path, int32_t retries) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-map-list-info");
    request.add("path", path);
    for (;;) {
        debug_print(u"Call 'lun-map-list-info' to check lun '%s' availability for FAPI calls after breaking Zelm. "
                    u"Will retry %d times",
                    u"" __FILE__, __LINE__, path, retries);
        const fapi_reply reply = request.invoke();
        if (reply.passed()) return true;
        if (reply.error_number() != kErrnoNoSuchLun)
            FAPI_RAISE(res::MSG_FAPI_LUN_MAP_LIST_INFO, path, get_filer_name(), reply.reason());
        Sleep(kBreakRetryDelayMs);
        if (retries <= 0) return false;
        --retries;
    }
}

void CFilerQuilbe1::fapi_lun_map(const WCHAR* path, const WCHAR* igroup, std::optional<int32_t> lun_id,
                                 int32_t& assigned_lun_id) {
    assigned_lun_id = 0;
    auto server = open_server();
    fapi_request request(server.get(), "lun-map");
    request.add("path", path).add("initiator-group", igroup);
    // The id travels as the unsigned text of its 32 bits.
    if (lun_id) request.add("lun-id", static_cast<uint32_t>(*lun_id));
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_MAP, path, igroup, get_filer_name(), reply.error_number(), reply.reason());
    assigned_lun_id = reply.int32_value("lun-id-assigned");
}

void CFilerQuilbe1::fapi_lun_unmap(const WCHAR* path, const WCHAR* igroup) {
    auto server = open_server();
    fapi_request request(server.get(), "lun-unmap");
    request.add("path", path).add("initiator-group", igroup);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_LUN_UNMAP, path, igroup, get_filer_name(), reply.error_number(), reply.reason());
}

// A type outside the tables is reported by its converter and sent as the empty
// text, which the request refuses before anything is sent.
void CFilerQuilbe1::fapi_igroup_create(const WCHAR* name, int32_t type, int32_t os_type) {
    auto server = open_server();
    fapi_request request(server.get(), "igroup-create");
    request.add("initiator-group-name", name)
        .add_ansi("initiator-group-type", igroup_type_to_string(type))
        .add_ansi("os-type", igroup_os_type_to_string(os_type));
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_IGROUP_CREATE, name, get_filer_name(), reply.error_number(), reply.reason());
}

void CFilerQuilbe1::fapi_igroup_destroy(const WCHAR* name, bool force) {
    auto server = open_server();
    fapi_request request(server.get(), "igroup-destroy");
    request.add("initiator-group-name", name).add_bool("force", force);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_IGROUP_DESTROY, name, get_filer_name(), reply.error_number(), reply.reason());
}

void CFilerQuilbe1::fapi_igroup_list_info(const WCHAR* name, std::vector<fapi_igroup_info_t>& groups) {
    groups.clear();
    auto server = open_server();
    fapi_request request(server.get(), "igroup-list-info");
    if (has_text(name)) request.add("initiator-group-name", name);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_IGROUP_LIST_INFO, get_filer_name(), reply.error_number(), reply.reason());
    parse_igroup_info_list(reply.child("initiator-groups"), groups);
}

void CFilerQuilbe1::fapi_igroup_add(const WCHAR* igroup, const WCHAR* initiator) {
    auto server = open_server();
    fapi_request request(server.get(), "igroup-add");
    request.add("initiator-group-name", igroup).add("initiator", initiator);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_IGROUP_ADD, initiator, igroup, get_filer_name(), reply.error_number(),
                   reply.reason());
}

// Asks, in name order, every group that holds the initiator which LUN it maps
// at the id; 9016 means none in that group. When no group answers, the path is
// left as it was and the caller decides what that means.
void CFilerPellion::fapi_igroup_lookup_lun(const WCHAR* initiator, int32_t lun_id, std::u16string& path) {
    std::vector<fapi_igroup_info_t> groups;
    fapi_igroup_list_info(nullptr, groups);
    const std::u16string_view wanted = initiator ? initiator : u"";
    std::set<std::u16string> candidates;
    for (const auto& group : groups)
        for (const auto& member : group.initiators)
            if (platform::equal_wide_nocase(member, wanted)) {
                candidates.insert(group.name);
                break;
            }

    auto server = open_server();
    const std::string id_text = std::to_string(lun_id);
    for (const auto& group : candidates) {
        fapi_request request(server.get(), "igroup-lookup-lun");
        request.add("initiator-group-name", group).add_ansi("lun-id", id_text.c_str());
        const fapi_reply reply = request.invoke();
        if (reply.error_number() == kErrnoNoSuchLunMap) continue;
        if (!reply.passed())
            FAPI_RAISE(res::MSG_FAPI_IGROUP_LOOKUP_LUN, widened(id_text.c_str()), initiator, get_filer_name(),
                       reply.reason());
        path = reply.text("path");
        return;
    }
    debug_print(u"Unable to find LUN mapping for '%s' and LUN ID '%s'. Possible this LUN was deleted/disconnected "
                u"during disk enumeration",
                u"" __FILE__, __LINE__, initiator, id_text);
}

void CFilerQuilbe1::fapi_fcp_adapter_list_info(std::vector<fapi_fcp_adapter_info_t>& adapters) {
    adapters.clear();
    auto server = open_server();
    fapi_request request(server.get(), "fcp-adapter-list-info");
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_FCP_ADAPTER_LIST_INFO, get_filer_name(), reply.reason());
    reply.for_each_child("fcp-config-adapters",
                         [&](const fapi_elem& entry) { read_fcp_adapter(entry, adapters.emplace_back()); });
}

void CFilerQuilbe1::fapi_fcp_adapter_initiators_list_info(const WCHAR* adapter,
                                                          std::vector<fapi_fcp_adapter_initiators_t>& adapters) {
    auto server = open_server();
    fapi_request request(server.get(), "fcp-adapter-initiators-list-info");
    request.add("fcp-adapter", adapter);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_FCP_ADAPTER_INITIATORS_LIST_INFO, adapter ? adapter : kAllAdapters, get_filer_name(),
                   reply.error_number(), reply.reason());
    adapters.reserve(adapters.size() + 200);
    reply.for_each_child("fcp-adapters", [&](const fapi_elem& entry) {
        auto& record = adapters.emplace_back();
        record.adapter = entry.text("adapter");
        record.initiators.reserve(100);
        entry.for_each_child("fcp-connected-initiators", [&](const fapi_elem& initiator) {
            read_fcp_initiator(initiator, record.initiators.emplace_back());
        });
    });
}

void CFilerQuilbe1::fapi_iscsi_adapter_list_info(std::vector<fapi_iscsi_adapter_info_t>& adapters) {
    adapters.clear();
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-adapter-list-info");
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_ISCSI_ADAPTER_LIST_INFO, get_filer_name(), reply.reason());
    reply.for_each_child("iscsi-config-adapters",
                         [&](const fapi_elem& entry) { read_iscsi_adapter(entry, adapters.emplace_back()); });
}

void CFilerQuilbe1::fapi_iscsi_adapter_initiators_list_info(const WCHAR* adapter,
                                                            std::vector<fapi_iscsi_adapter_initiators_t>& adapters) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-adapter-initiators-list-info");
    request.add("iscsi-adapter", adapter);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_ISCSI_ADAPTER_INITIATORS_LIST_INFO, adapter ? adapter : kAllAdapters,
                   get_filer_name(), reply.error_number(), reply.reason());
    adapters.reserve(adapters.size() + 200);
    reply.for_each_child("iscsi-adapters", [&](const fapi_elem& entry) {
        auto& record = adapters.emplace_back();
        record.adapter_name = entry.text("name");
        record.initiators.reserve(100);
        entry.for_each_child("iscsi-connected-initiators", [&](const fapi_elem& initiator) {
            read_iscsi_initiator(initiator, record.initiators.emplace_back());
        });
    });
}
