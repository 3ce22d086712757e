// iSCSI operations: the target's node name and alias, its portal groups and
// their interfaces, portals, logged-in initiators, CHAP settings per initiator
// and the service status. 7.0.2 up to 7.1 has only the node name and the
// service status; the rest refuse there (CFilerImpl).
#include <filer/filer_classes.h>

#include <string>

#include "fapi_raise.h"

namespace {

std::u16string decimal_text(uint32_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

}  // namespace

void CFilerQuilbe1::fapi_iscsi_node_get_name(std::string& node_name) {
    node_name.clear();
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-node-get-name");
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_ISCSI_NODE_GET_NAME, get_filer_name(), reply.reason());
    node_name = reply.narrow_text("node-name");
}

bool CFilerQuilbe1::fapi_iscsi_service_status() {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-service-status");
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_ISCSI_SERVICE_STATUS, reply.error_number(), reply.reason());
    return reply.bool_value("is-available");
}

void CFilerOskarn::fapi_iscsi_tpgroup_list_info(uint32_t tag, std::vector<fapi_iscsi_tpgroup_info_t>& groups) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-tpgroup-list-info");
    if (tag != 0) request.add("tpgroup-tag", tag);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_ISCSI_TPGROUP_LIST_INFO, reply.error_number(), reply.reason());
    reply.for_each_child("iscsi-tpgroup-list-entries", [&](const fapi_elem& entry) {
        auto& group = groups.emplace_back();
        group.tpgroup_name = entry.text("tpgroup-name");
        group.tpgroup_tag = entry.int32_value("tpgroup-tag");
        entry.for_each_child("interface-list-entries", [&](const fapi_elem& member) {
            group.interfaces.push_back(member.text("interface-name"));
        });
    });
}

void CFilerOskarn::fapi_iscsi_portal_list_info(std::vector<fapi_iscsi_portal_info_t>& portals) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-portal-list-info");
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_ISCSI_PORTAL_LIST_INFO, reply.error_number(), reply.reason());
    reply.for_each_child("iscsi-portal-list-entries", [&](const fapi_elem& entry) {
        auto& portal = portals.emplace_back();
        portal.interface_name = entry.text("interface-name");
        portal.ip_address = entry.text("ip-address");
        portal.ip_port = entry.int32_value("ip-port");
        portal.tpgroup_tag = entry.int32_value("tpgroup-tag");
    });
}

void CFilerOskarn::fapi_iscsi_interface_list_info(const WCHAR* interface_filter,
                                                  std::vector<fapi_iscsi_interface_info_t>& interfaces) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-interface-list-info");
    // The model always asks for every interface; a named one narrows the list.
    if (interface_filter && *interface_filter) request.add("interface-name", interface_filter);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_ISCSI_INTERFACE_LIST_INFO, reply.error_number(), reply.reason());
    reply.for_each_child("iscsi-interface-list-entries", [&](const fapi_elem& entry) {
        auto& iface = interfaces.emplace_back();
        iface.interface_name = entry.text("interface-name");
        iface.is_interface_enabled = entry.bool_value("is-interface-enabled");
        iface.tpgroup_name = entry.text("tpgroup-name");
        iface.tpgroup_tag = entry.int32_value("tpgroup-tag");
    });
}

void CFilerOskarn::fapi_iscsi_initiator_list_info(std::vector<fapi_iscsi_initiator_info_t>& initiators) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-initiator-list-info");
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_ISCSI_INITIATOR_LIST_INFO, reply.error_number(), reply.reason());
    reply.for_each_child("iscsi-initiator-list-entries", [&](const fapi_elem& entry) {
        auto& initiator = initiators.emplace_back();
        initiator.initiator_aliasname = entry.text("initiator-aliasname");
        initiator.initiator_nodename = entry.text("initiator-nodename");
        initiator.isid = entry.text("isid");
        initiator.target_session_id = entry.int32_value("target-session-id");
        initiator.tpgroup_tag = entry.int32_value("tpgroup-tag");
    });
}

void CFilerOskarn::fapi_iscsi_target_alias_get_alias(std::u16string& alias) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-target-alias-get-alias");
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(res::MSG_FAPI_ISCSI_TARGET_ALIAS_GET_ALIAS, reply.error_number(), reply.reason());
    alias = reply.text("alias-name");
}

void CFilerOskarn::fapi_iscsi_target_alias_set_alias(const WCHAR* alias) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-target-alias-set-alias");
    request.add("alias-name", alias);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_ISCSI_TARGET_ALIAS_SET_ALIAS, alias, reply.error_number(),
                   reply.reason());
}

void CFilerOskarn::fapi_iscsi_target_alias_clear_alias() {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-target-alias-clear-alias");
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_ISCSI_TARGET_ALIAS_CLEAR_ALIAS, reply.error_number(), reply.reason());
}

void CFilerOskarn::fapi_iscsi_tpgroup_create(const WCHAR* name, uint32_t* tag) {
    const uint32_t requested = tag ? *tag : 0;
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-tpgroup-create");
    request.add("tpgroup-name", name);
    if (requested != 0) request.add("tpgroup-tag", requested);
    const fapi_reply reply = request.invoke();
    // A group whose tag the appliance was to choose is named by tag 0.
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_ISCSI_TPGROUP_CREATE, decimal_text(requested), reply.error_number(), reply.reason());
    if (tag) *tag = static_cast<uint32_t>(reply.uint64_value("tpgroup-tag"));
}

void CFilerOskarn::fapi_iscsi_tpgroup_destroy(uint32_t tag) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-tpgroup-destroy");
    if (tag != 0) request.add("tpgroup-tag", tag);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_ISCSI_TPGROUP_DESTROY, decimal_text(tag), reply.error_number(), reply.reason());
}

void CFilerOskarn::fapi_iscsi_node_set_name(const WCHAR* node_name) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-node-set-name");
    request.add("node-name", node_name);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_ISCSI_NODE_SET_NAME, node_name, reply.error_number(),
                   reply.reason());
}

namespace {

// Adding an interface to a group and taking it out differ only in name and message.
void change_tpgroup_member(kx_server_rec* server, const char* request_name, DWORD failure,
                           const WCHAR* interface_name, uint32_t tag) {
    fapi_request request(server, request_name);
    request.add("interface-name", interface_name).add("tpgroup-tag", tag);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(failure, interface_name, decimal_text(tag), reply.error_number(), reply.reason());
}

void switch_interface(kx_server_rec* server, const char* request_name, DWORD failure, const WCHAR* interface_name) {
    fapi_request request(server, request_name);
    request.add("interface-name", interface_name);
    const fapi_reply reply = request.invoke();
    if (!reply.passed()) FAPI_RAISE(failure, interface_name, reply.error_number(), reply.reason());
}

// The children of both authentication requests after "auth-type" (and
// "initiator"): each secret only when it has bytes, each user name only when
// it is not empty.
void add_auth_children(fapi_request& request, std::span<const BYTE> outbound_secret,
                       const WCHAR* outbound_user_name, std::span<const BYTE> secret, const WCHAR* user_name) {
    add_secret_child(request, "outbound-password", outbound_secret);
    if (outbound_user_name && *outbound_user_name) request.add("outbound-user-name", outbound_user_name);
    add_secret_child(request, "password", secret);
    if (user_name && *user_name) request.add("user-name", user_name);
}

}  // namespace

void CFilerOskarn::fapi_iscsi_tpgroup_interface_add(const WCHAR* interface_name, uint32_t tag) {
    auto server = open_server();
    change_tpgroup_member(server.get(), "iscsi-tpgroup-interface-add", res::MSG_FAPI_ISCSI_TPGROUP_INTERFACE_ADD,
                          interface_name, tag);
}

void CFilerOskarn::fapi_iscsi_tpgroup_interface_delete(const WCHAR* interface_name, uint32_t tag) {
    auto server = open_server();
    change_tpgroup_member(server.get(), "iscsi-tpgroup-interface-delete",
                          res::MSG_FAPI_ISCSI_TPGROUP_INTERFACE_DELETE, interface_name, tag);
}

void CFilerOskarn::fapi_iscsi_interface_enable(const WCHAR* interface_name) {
    auto server = open_server();
    switch_interface(server.get(), "iscsi-interface-enable", res::MSG_FAPI_ISCSI_INTERFACE_ENABLE, interface_name);
}

void CFilerOskarn::fapi_iscsi_interface_disable(const WCHAR* interface_name) {
    auto server = open_server();
    switch_interface(server.get(), "iscsi-interface-disable", res::MSG_FAPI_ISCSI_INTERFACE_DISABLE, interface_name);
}

void CFilerOskarn::fapi_iscsi_initiator_add_auth(const WCHAR* auth_type, const WCHAR* initiator,
                                                 std::span<const BYTE> outbound_secret,
                                                 const WCHAR* outbound_user_name, std::span<const BYTE> secret,
                                                 const WCHAR* user_name) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-initiator-add-auth");
    request.add("auth-type", auth_type).add("initiator", initiator);
    add_auth_children(request, outbound_secret, outbound_user_name, secret, user_name);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_ISCSI_INITIATOR_ADD_AUTH, initiator, reply.error_number(),
                   reply.reason());
}

// A refusal is raised: removing a secret must not report success while the
// appliance still holds it.
void CFilerOskarn::fapi_iscsi_initiator_delete_auth(const WCHAR* initiator) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-initiator-delete-auth");
    request.add("initiator", initiator);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_ISCSI_INITIATOR_DELETE_AUTH, initiator, reply.error_number(),
                   reply.reason());
}

void CFilerOskarn::fapi_iscsi_initiator_get_default_auth(std::u16string& auth_type,
                                                         std::u16string& outbound_user_name,
                                                         std::u16string& user_name) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-initiator-get-default-auth");
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_ISCSI_INITIATOR_GET_DEFAULT_AUTH, reply.error_number(), reply.reason());
    auth_type = reply.text("auth-type");
    outbound_user_name = reply.text("outbound-user-name");
    user_name = reply.text("user-name");
}

// The appliance takes the default setting as an authentication request without an initiator.
void CFilerOskarn::fapi_iscsi_initiator_set_default_auth(const WCHAR* auth_type,
                                                         std::span<const BYTE> outbound_secret,
                                                         const WCHAR* outbound_user_name,
                                                         std::span<const BYTE> secret, const WCHAR* user_name) {
    auto server = open_server();
    fapi_request request(server.get(), "iscsi-initiator-add-auth");
    request.add("auth-type", auth_type);
    add_auth_children(request, outbound_secret, outbound_user_name, secret, user_name);
    const fapi_reply reply = request.invoke();
    if (!reply.passed())
        FAPI_RAISE(res::MSG_FAPI_ISCSI_INITIATOR_SET_DEFAULT_AUTH, reply.error_number(), reply.reason());
}
