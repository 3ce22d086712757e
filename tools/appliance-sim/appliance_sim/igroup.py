"""Initiator groups, LUN maps and the Fibre Channel target adapters with the
initiators logged in through them."""

import re

from . import errors as E
from . import state as S
from .errors import ApiError

MAX_LUN_ID = 4095
_IGROUP_NAME_RE = re.compile(r"^[^\s]{1,255}$")


def igroup_record(ig, lun_id=None):
    return ("initiator-group-info", [
        ("initiator-group-name", ig["name"]),
        ("initiator-group-type", ig["type"]),
        ("initiator-group-os-type", ig["os-type"]),
        ("initiators", [("initiator-info", [("initiator-name", i)]) for i in ig["initiators"]]),
        ("lun-id", lun_id),
    ])


def lun_map_list_info(app, a):
    lun = app.lun(a.name("path"))
    if lun["unavailable"] > 0:
        # After a replication break the LUN answers as missing for a while.
        lun["unavailable"] -= 1
        raise ApiError(E.E_NO_SUCH_LUN, "LUN is not available yet")
    groups = [igroup_record(app.s["igroups"][name], lun_id)
              for name, lun_id in lun["maps"].items() if name in app.s["igroups"]]
    return [("initiator-groups", groups)]


def _ids_in_use(app, ig):
    """LUN ids the group's hosts already see: those of the group and of every
    group that shares an initiator with it."""
    members = {i.lower() for i in ig["initiators"]}
    related = {name for name, other in app.s["igroups"].items()
               if name == ig["name"] or members & {i.lower() for i in other["initiators"]}}
    return {lun_id for lun in app.s["luns"].values()
            for name, lun_id in lun["maps"].items() if name in related}


def lun_map(app, a):
    path = a.name("path")
    lun = app.lun(path)
    ig = app.igroup(a.name("initiator-group"))
    wanted = a.int("lun-id", minimum=0, maximum=MAX_LUN_ID)
    if ig["name"] in lun["maps"]:
        raise ApiError(E.E_ALREADY_MAPPED, "LUN %s is already mapped to initiator group %s"
                       % (path, ig["name"]))
    used = _ids_in_use(app, ig)
    if wanted is None:
        wanted = next(n for n in range(MAX_LUN_ID + 2) if n not in used)
        if wanted > MAX_LUN_ID:
            raise ApiError(E.E_LUN_ID_IN_USE, "No free LUN id in initiator group %s" % ig["name"])
    elif wanted in used:
        raise ApiError(E.E_LUN_ID_IN_USE, "LUN id %d is already used by the hosts of initiator group %s"
                       % (wanted, ig["name"]))
    lun["maps"][ig["name"]] = wanted
    return [("lun-id-assigned", wanted)]


def lun_unmap(app, a):
    path = a.name("path")
    lun = app.lun(path)
    ig = app.igroup(a.name("initiator-group"))
    if ig["name"] not in lun["maps"]:
        raise ApiError(E.E_NO_SUCH_LUNMAP, "LUN %s is not mapped to initiator group %s"
                       % (path, ig["name"]))
    del lun["maps"][ig["name"]]


def igroup_create(app, a):
    name = a.name("initiator-group-name")
    kind = a.text("initiator-group-type")
    ostype = a.text("os-type", False, "default")
    if not _IGROUP_NAME_RE.match(name):
        raise E.invalid("initiator-group-name", name)
    if kind not in S.IGROUP_TYPES:
        raise E.invalid("initiator-group-type", kind)
    if ostype not in S.IGROUP_OS_TYPES:
        raise E.invalid("os-type", ostype)
    if name in app.s["igroups"]:
        raise ApiError(E.E_IGROUP_EXISTS, "Initiator group %s already exists" % name)
    app.s["igroups"][name] = {"name": name, "type": kind, "os-type": ostype, "initiators": []}


def igroup_destroy(app, a):
    ig = app.igroup(a.name("initiator-group-name"))
    mapped = [lun for lun in app.s["luns"].values() if ig["name"] in lun["maps"]]
    if mapped and not a.bool("force", default=False):
        raise ApiError(E.E_IGROUP_MAPPED, "Initiator group %s has LUNs mapped to it" % ig["name"])
    for lun in mapped:
        del lun["maps"][ig["name"]]
    del app.s["igroups"][ig["name"]]


def igroup_list_info(app, a):
    name = a.text("initiator-group-name", False)
    groups = [app.igroup(name)] if name else list(app.s["igroups"].values())
    return [("initiator-groups", [igroup_record(ig) for ig in groups])]


def igroup_add(app, a):
    ig = app.igroup(a.name("initiator-group-name"))
    initiator = a.name("initiator")
    if not S.is_initiator_name(ig["type"], initiator):
        raise ApiError(E.E_BAD_INITIATOR, "%s is not a valid %s initiator name"
                       % (initiator, ig["type"]))
    if any(i.lower() == initiator.lower() for i in ig["initiators"]):
        raise ApiError(E.E_INITIATOR_IN_GROUP, "Initiator %s is already in initiator group %s"
                       % (initiator, ig["name"]))
    ig["initiators"].append(initiator)


def igroup_lookup_lun(app, a):
    ig = app.igroup(a.name("initiator-group-name"))
    lun_id = a.int("lun-id", True, minimum=0, maximum=MAX_LUN_ID)
    for lun in app.visible_luns():
        if lun["maps"].get(ig["name"]) == lun_id:
            return [("path", lun["path"])]
    raise ApiError(E.E_NO_SUCH_LUNMAP, "No LUN is mapped at LUN id %d in initiator group %s"
                   % (lun_id, ig["name"]))


_ADAPTER_FIELDS = ("adapter", "node-name", "port-name", "adapter-type", "state", "port-address",
                   "port-id", "standby", "media-type", "speed", "physical-protocol", "info-name")


def fcp_adapter_list_info(app, a):
    adapters = [("fcp-config-adapter-info", [(k, ad[k]) for k in _ADAPTER_FIELDS if k in ad])
                for ad in app.s["fcp"]["adapters"].values()]
    return [("fcp-config-adapters", adapters)]


def fcp_adapter_initiators_list_info(app, a):
    name = a.text("fcp-adapter", False)
    adapters = app.s["fcp"]["adapters"]
    if name:
        if name not in adapters:
            raise ApiError(E.E_ADAPTER_NOT_FOUND, "FCP adapter %s does not exist" % name)
        chosen = [adapters[name]]
    else:
        chosen = list(adapters.values())
    groups_of = {}
    for ig in app.s["igroups"].values():
        if ig["type"] == "fcp":
            for member in ig["initiators"]:
                groups_of.setdefault(member.lower(), []).append(ig["name"])
    entries = []
    for ad in chosen:
        initiators = [("fcp-connected-initiator-info", [
            ("node-name", i.get("node-name", "")),
            ("port-name", i.get("port-name", "")),
            ("port-address", i.get("port-address", "")),
            ("initiator-group-list", [("initiator-group-list-entry-info",
                                       [("initiator-group-name", g)])
                                      for g in groups_of.get(i.get("port-name", "").lower(), ())]),
        ]) for i in ad["initiators"]]
        entries.append(("fcp-adapter-initiators-info",
                        [("adapter", ad["adapter"]), ("fcp-connected-initiators", initiators)]))
    return [("fcp-adapters", entries)]


HANDLERS = {
    "lun-map-list-info": lun_map_list_info,
    "lun-map": lun_map,
    "lun-unmap": lun_unmap,
    "igroup-create": igroup_create,
    "igroup-destroy": igroup_destroy,
    "igroup-list-info": igroup_list_info,
    "igroup-add": igroup_add,
    "igroup-lookup-lun": igroup_lookup_lun,
    "fcp-adapter-list-info": fcp_adapter_list_info,
    "fcp-adapter-initiators-list-info": fcp_adapter_initiators_list_info,
}
