"""iSCSI target: node name, alias, portal groups and their interfaces,
portals, sessions, CHAP settings per initiator, service status, and the
iSCSI target adapters with their connected initiators.

Every network interface belongs to exactly one portal group: its own system
group ("<interface>_default", tag 1000 + its index) unless it was added to a
user group.
"""

from . import errors as E
from .errors import ApiError

# The built-in key both sides use for encrypted request values (CHAP secrets).
DEFAULT_CHAP_KEY = b"Zv7qK2rXp9Lm4Tw\x1b"  # the client's built-in key
ISCSI_PORT = 3260
MAX_USER_TAG = 256
MAX_SECRET = 500
AUTH_TYPES = ("CHAP", "none", "deny")


def rc4(key, data):
    state = list(range(256))
    j = 0
    for i in range(256):
        j = (j + state[i] + key[i % len(key)]) & 0xFF
        state[i], state[j] = state[j], state[i]
    out = bytearray()
    i = j = 0
    for byte in data:
        i = (i + 1) & 0xFF
        j = (j + state[i]) & 0xFF
        state[i], state[j] = state[j], state[i]
        out.append(byte ^ state[(state[i] + state[j]) & 0xFF])
    return bytes(out)


def _iscsi(app):
    return app.s["iscsi"]


def _default_group(app, if_name):
    index = list(_iscsi(app)["interfaces"]).index(if_name)
    return {"name": "%s_default" % if_name, "tag": 1000 + index, "interfaces": [if_name],
            "user-defined": False}


def _group_of(app, if_name):
    for group in _iscsi(app)["tpgroups"]:
        if if_name in group["interfaces"]:
            return group
    return None


def _group_by_tag(app, tag):
    for group in _iscsi(app)["tpgroups"]:
        if group["tag"] == tag:
            return group
    raise ApiError(E.E_TPGROUP_NOT_FOUND, "Portal group with tag %d does not exist" % tag)


def _interface(app, name):
    iface = _iscsi(app)["interfaces"].get(name)
    if iface is None:
        raise ApiError(E.E_INTERFACE_NOT_FOUND, "Network interface %s does not exist" % name)
    return iface


def _move_interface(app, if_name, target):
    """Take the interface out of its group (a system group goes with it) and
    put it into `target`, or back into its own system group."""
    groups = _iscsi(app)["tpgroups"]
    current = _group_of(app, if_name)
    if current is not None:
        current["interfaces"].remove(if_name)
        if not current.get("user-defined") and not current["interfaces"]:
            groups.remove(current)
    if target is None:
        groups.append(_default_group(app, if_name))
    else:
        target["interfaces"].append(if_name)


def iscsi_node_get_name(app, a):
    return [("node-name", _iscsi(app)["node-name"])]


def iscsi_node_set_name(app, a):
    name = a.name("node-name")
    if not (name.startswith("iqn.") or name.startswith("eui.")) or any(c.isspace() for c in name):
        raise ApiError(E.E_BAD_NODE_NAME, "Invalid iSCSI node name %s" % name)
    _iscsi(app)["node-name"] = name


def iscsi_service_status(app, a):
    return [("is-available", bool(_iscsi(app)["service-available"]))]


def iscsi_target_alias_get_alias(app, a):
    return [("alias-name", _iscsi(app)["alias"] or None)]


def iscsi_target_alias_set_alias(app, a):
    alias = a.name("alias-name")
    if len(alias) > 128:
        raise E.invalid("alias-name", alias)
    _iscsi(app)["alias"] = alias


def iscsi_target_alias_clear_alias(app, a):
    _iscsi(app)["alias"] = ""


def _tpgroup_record(group):
    return ("iscsi-tpgroup-list-entry-info", [
        ("tpgroup-name", group["name"]), ("tpgroup-tag", group["tag"]),
        ("is-user-defined", bool(group.get("user-defined"))),
        ("interface-list-entries", [("iscsi-tpgroup-interface-info", [("interface-name", i)])
                                    for i in group["interfaces"]])])


def iscsi_tpgroup_list_info(app, a):
    tag = a.int("tpgroup-tag", minimum=0)
    groups = [_group_by_tag(app, tag)] if tag else _iscsi(app)["tpgroups"]
    return [("iscsi-tpgroup-list-entries", [_tpgroup_record(g) for g in groups])]


def iscsi_tpgroup_create(app, a):
    name = a.name("tpgroup-name")
    tag = a.int("tpgroup-tag", minimum=0, maximum=MAX_USER_TAG)
    groups = _iscsi(app)["tpgroups"]
    if any(g["name"] == name for g in groups):
        raise ApiError(E.E_TPGROUP_EXISTS, "Portal group %s already exists" % name)
    used = {g["tag"] for g in groups}
    if tag:
        if tag in used:
            raise ApiError(E.E_TPGROUP_EXISTS, "Portal group tag %d is already in use" % tag)
    else:
        tag = next((t for t in range(1, MAX_USER_TAG + 1) if t not in used), 0)
        if not tag:
            raise ApiError(E.E_TPGROUP_EXISTS, "No free portal group tag")
    groups.append({"name": name, "tag": tag, "interfaces": [], "user-defined": True})
    return [("tpgroup-tag", tag)]


def iscsi_tpgroup_destroy(app, a):
    group = _group_by_tag(app, a.int("tpgroup-tag", True, minimum=1))
    if not group.get("user-defined"):
        raise ApiError(E.E_INVALID_INPUT, "System portal group %s cannot be destroyed" % group["name"])
    _iscsi(app)["tpgroups"].remove(group)
    for if_name in group["interfaces"]:
        _iscsi(app)["tpgroups"].append(_default_group(app, if_name))


def iscsi_tpgroup_interface_add(app, a):
    if_name = a.name("interface-name")
    _interface(app, if_name)
    group = _group_by_tag(app, a.int("tpgroup-tag", True, minimum=0))
    if not group.get("user-defined"):
        raise ApiError(E.E_INVALID_INPUT, "Interfaces cannot be added to system portal group %s"
                       % group["name"])
    if if_name in group["interfaces"]:
        raise ApiError(E.E_INVALID_INPUT, "Interface %s is already in portal group %s"
                       % (if_name, group["name"]))
    _move_interface(app, if_name, group)


def iscsi_tpgroup_interface_delete(app, a):
    if_name = a.name("interface-name")
    _interface(app, if_name)
    group = _group_by_tag(app, a.int("tpgroup-tag", True, minimum=0))
    if if_name not in group["interfaces"] or not group.get("user-defined"):
        raise ApiError(E.E_INVALID_INPUT, "Interface %s is not in user portal group %s"
                       % (if_name, group["name"]))
    _move_interface(app, if_name, None)


def iscsi_portal_list_info(app, a):
    # quirks.list-every-portal: disabled interfaces and interfaces of no group
    # are listed too (tag 0), as an appliance whose lists disagree would.
    every = app.s.get("quirks", {}).get("list-every-portal", False)
    portals = []
    for name, iface in _iscsi(app)["interfaces"].items():
        group = _group_of(app, name)
        if not every and (not iface.get("enabled", True) or group is None):
            continue
        for address in iface.get("ip-addresses", ()):
            portals.append(("iscsi-portal-list-entry-info", [
                ("interface-name", name), ("ip-address", address),
                ("ip-port", iface.get("ip-port", ISCSI_PORT)), ("tpgroup-tag", group["tag"] if group else 0)]))
    return [("iscsi-portal-list-entries", portals)]


def iscsi_interface_list_info(app, a):
    wanted = a.text("interface-name", False)
    names = [wanted] if wanted else list(_iscsi(app)["interfaces"])
    entries = []
    for name in names:
        iface = _interface(app, name)
        group = _group_of(app, name)
        entries.append(("iscsi-interface-list-entry-info", [
            ("interface-name", name), ("is-interface-enabled", iface.get("enabled", True)),
            ("tpgroup-name", group["name"] if group else None),
            ("tpgroup-tag", group["tag"] if group else None)]))
    return [("iscsi-interface-list-entries", entries)]


def _set_enabled(app, a, enabled):
    _interface(app, a.name("interface-name"))["enabled"] = enabled


def iscsi_interface_enable(app, a):
    _set_enabled(app, a, True)


def iscsi_interface_disable(app, a):
    _set_enabled(app, a, False)


def iscsi_initiator_list_info(app, a):
    return [("iscsi-initiator-list-entries", [("iscsi-initiator-list-entry-info", [
        ("initiator-aliasname", s.get("initiator-aliasname", "")),
        ("initiator-nodename", s["initiator-nodename"]),
        ("isid", s.get("isid", "")),
        ("target-session-id", s.get("target-session-id", 0)),
        ("tpgroup-tag", s.get("tpgroup-tag", 0))]) for s in _iscsi(app)["sessions"]])]


def _secret(app, a, name):
    text = a.text(name, False)
    if text is None:
        return b""
    try:
        cipher = bytes.fromhex(text)
    except ValueError:
        raise E.invalid(name, "(not hexadecimal)") from None
    if len(cipher) > MAX_SECRET:
        raise ApiError(E.E_INVALID_INPUT, "%s is longer than %d bytes" % (name, MAX_SECRET))
    key_hex = app.s["quirks"].get("chap-key-hex")
    return rc4(bytes.fromhex(key_hex) if key_hex else DEFAULT_CHAP_KEY, cipher)


def iscsi_initiator_add_auth(app, a):
    auth_type = a.text("auth-type")
    if auth_type not in AUTH_TYPES:
        raise E.invalid("auth-type", auth_type)
    initiator = a.text("initiator", False)
    entry = {"auth-type": auth_type,
             "user-name": a.text("user-name", False, ""),
             "password": _secret(app, a, "password"),
             "outbound-user-name": a.text("outbound-user-name", False, ""),
             "outbound-password": _secret(app, a, "outbound-password")}
    if auth_type == "CHAP" and not (entry["user-name"] and entry["password"]):
        raise ApiError(E.E_INVALID_INPUT, "CHAP needs a user name and a password")
    if bool(entry["outbound-user-name"]) != bool(entry["outbound-password"]):
        raise ApiError(E.E_INVALID_INPUT, "Outbound CHAP needs both a user name and a password")
    if initiator is None:
        _iscsi(app)["default-auth"] = entry
    else:
        if initiator == "":
            raise E.invalid("initiator", initiator)
        _iscsi(app)["auth"][initiator] = entry


def iscsi_initiator_delete_auth(app, a):
    initiator = a.name("initiator")
    if _iscsi(app)["auth"].pop(initiator, None) is None:
        raise ApiError(E.E_AUTH_NOT_FOUND, "No authentication is defined for initiator %s"
                       % initiator)


def iscsi_initiator_get_default_auth(app, a):
    entry = _iscsi(app)["default-auth"]
    return [("auth-type", entry["auth-type"]),
            ("outbound-user-name", entry["outbound-user-name"] or None),
            ("user-name", entry["user-name"] or None)]


def _portal_addresses(app):
    out = []
    for name, iface in _iscsi(app)["interfaces"].items():
        group = _group_of(app, name)
        if iface.get("enabled", True) and group is not None:
            for address in iface.get("ip-addresses", ()):
                out.append(("portal-address-info", [
                    ("id", group["tag"]), ("inet-address", address),
                    ("port", iface.get("ip-port", ISCSI_PORT))]))
    return out


def iscsi_adapter_list_info(app, a):
    portals = _portal_addresses(app)
    return [("iscsi-config-adapters", [("iscsi-config-adapter-info", [
        ("name", ad["name"]), ("state", ad.get("state", "online")),
        ("status", ad.get("status")), ("portal-addresses", portals)])
        for ad in _iscsi(app)["adapters"]])]


def iscsi_adapter_initiators_list_info(app, a):
    name = a.text("iscsi-adapter", False)
    adapters = _iscsi(app)["adapters"]
    if name:
        adapters = [ad for ad in adapters if ad["name"] == name]
        if not adapters:
            raise ApiError(E.E_ADAPTER_NOT_FOUND, "iSCSI adapter %s does not exist" % name)
    sessions = [("iscsi-connected-initiator-info", [
        ("initiator-name", s["initiator-nodename"]),
        ("portal-group-id", s.get("tpgroup-tag", 0)), ("isid", s.get("isid", ""))])
        for s in _iscsi(app)["sessions"]]
    return [("iscsi-adapters", [("iscsi-adapter-initiators-info", [
        ("name", ad["name"]), ("iscsi-connected-initiators", sessions)]) for ad in adapters])]


HANDLERS = {
    "iscsi-node-get-name": iscsi_node_get_name,
    "iscsi-node-set-name": iscsi_node_set_name,
    "iscsi-service-status": iscsi_service_status,
    "iscsi-target-alias-get-alias": iscsi_target_alias_get_alias,
    "iscsi-target-alias-set-alias": iscsi_target_alias_set_alias,
    "iscsi-target-alias-clear-alias": iscsi_target_alias_clear_alias,
    "iscsi-tpgroup-list-info": iscsi_tpgroup_list_info,
    "iscsi-tpgroup-create": iscsi_tpgroup_create,
    "iscsi-tpgroup-destroy": iscsi_tpgroup_destroy,
    "iscsi-tpgroup-interface-add": iscsi_tpgroup_interface_add,
    "iscsi-tpgroup-interface-delete": iscsi_tpgroup_interface_delete,
    "iscsi-portal-list-info": iscsi_portal_list_info,
    "iscsi-interface-list-info": iscsi_interface_list_info,
    "iscsi-interface-enable": iscsi_interface_enable,
    "iscsi-interface-disable": iscsi_interface_disable,
    "iscsi-initiator-list-info": iscsi_initiator_list_info,
    "iscsi-initiator-add-auth": iscsi_initiator_add_auth,
    "iscsi-initiator-delete-auth": iscsi_initiator_delete_auth,
    "iscsi-initiator-get-default-auth": iscsi_initiator_get_default_auth,
    "iscsi-adapter-list-info": iscsi_adapter_list_info,
    "iscsi-adapter-initiators-list-info": iscsi_adapter_initiators_list_info,
}
