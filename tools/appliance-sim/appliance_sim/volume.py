"""Volumes and qtrees: listing, creation, destruction, state, renaming,
sizing, cloning, options and autosize."""

import re

from . import errors as E
from . import state as S
from .errors import ApiError

_VOLUME_NAME_RE = re.compile(r"^[A-Za-z_][A-Za-z0-9_]{0,254}$")
_RESIZE_RE = re.compile(r"^\s*([+-]?)\s*([0-9]+[bkmgtBKMGT]?)\s*$")


def _volume_record(app, vol):
    fields = [("name", vol["name"]), ("uuid", vol["uuid"]), ("type", vol["type"]),
              ("containing-aggregate", vol.get("aggregate")), ("state", vol["state"])]
    if vol["state"] == "online":
        capacity = app.volume_capacity(vol)
        used = app.volume_used(vol)
        reserved_luns = sum(l["size"] for l in app._volume_luns(vol["name"])
                            if l["space-reservation"])
        overwrite = 0
        if vol["snapshots"]:
            overwrite = reserved_luns * int(vol["options"]["fractional_reserve"]) // 100
        fields += [("size-total", capacity), ("size-used", used),
                   ("size-available", app.volume_available(vol)),
                   ("percentage-used", used * 100 // capacity if capacity else 0),
                   ("files-total", vol["files-total"]), ("files-used", vol["files-used"]),
                   ("snapshot-percent-reserved", vol["snapshot-reserve-percent"]),
                   ("reserve", overwrite), ("reserve-required", overwrite),
                   ("reserve-used", min(vol["reserve-used"], overwrite))]
    fields += [("space-reserve", vol["space-reserve"]),
               ("space-reserve-enabled", vol["state"] == "online"),
               ("raid-status", "raid_dp"),
               ("clone-parent", [("clone-parent-info", [
                   ("parent-volume-name", vol["clone-parent"]),
                   ("parent-snapshot-name", vol.get("clone-snapshot", ""))])]
                if vol.get("clone-parent") else None),
               ("clone-children", [("clone-child-info", [("clone_child-name", c)])
                                   for c in vol["clone-children"]] or None)]
    return ("volume-info", fields)


def volume_list_info(app, a):
    name = a.text("volume", False)
    vols = [app.volume(name)] if name else list(app.s["volumes"].values())
    with app.space_snapshot():
        return [("volumes", [_volume_record(app, v) for v in vols])]


def volume_get_root_name(app, a):
    return [("volume", app.s["root-volume"])]


def _check_new_name(app, name, field):
    if not _VOLUME_NAME_RE.match(name):
        raise E.invalid(field, name)
    if name in app.s["volumes"] or name in app.s["aggregates"]:
        raise ApiError(E.E_NAME_EXISTS, "A volume or aggregate named %s already exists" % name)


def _check_volume_size(size):
    if size < S.MIN_VOLUME_SIZE or size > S.MAX_VOLUME_SIZE:
        raise ApiError(E.EINVAL, "Invalid volume size %d: it must lie between %s and %s"
                       % (size, S.format_size(S.MIN_VOLUME_SIZE), S.format_size(S.MAX_VOLUME_SIZE)))


def _new_volume(app, name, aggr, size, reserve, **extra):
    vol = {"name": name, "aggregate": aggr["name"], "size": size, "space-reserve": reserve}
    vol.update(extra)
    app._volume_defaults(app.s, vol)
    app.s["volumes"][name] = vol
    return vol


def volume_create(app, a):
    aggr = app.aggregate(a.name("containing-aggr-name"))
    name = a.name("volume")
    size = S.parse_size(a.name("size"))
    reserve = a.text("space-reserve", False, "volume")
    if reserve not in S.SPACE_RESERVES:
        raise E.invalid("space-reserve", reserve)
    _check_new_name(app, name, "volume")
    if aggr["state"] != "online":
        raise ApiError(E.E_VOLUME_STATE, "Aggregate %s is not online" % aggr["name"])
    _check_volume_size(size)
    if reserve == "volume" and size > app.aggregate_available(aggr):
        raise ApiError(E.ENOSPC, "Insufficient space in aggregate %s to create volume %s"
                       % (aggr["name"], name))
    language = a.text("language", False)
    _new_volume(app, name, aggr, size, reserve,
                **({"options": {"language": language}} if language else {}))


def volume_destroy(app, a):
    vol = app.volume(a.name("name"))
    if vol["name"] == app.s["root-volume"]:
        raise ApiError(E.E_VOLUME_STATE, "The root volume cannot be destroyed")
    if vol["state"] == "online":
        raise ApiError(E.E_VOLUME_STATE, "Volume %s must be offline before it is destroyed"
                       % vol["name"])
    if vol["clone-children"]:
        raise ApiError(E.E_VOLUME_STATE, "Volume %s has clones: %s"
                       % (vol["name"], ", ".join(vol["clone-children"])))
    parent = app.s["volumes"].get(vol.get("clone-parent", ""))
    if parent and vol["name"] in parent["clone-children"]:
        parent["clone-children"].remove(vol["name"])
    app.drop_prefix(vol["name"])
    del app.s["volumes"][vol["name"]]


def volume_offline(app, a):
    vol = app.volume(a.name("name"))
    a.int("cifs-delay", minimum=0)
    if vol["name"] == app.s["root-volume"]:
        raise ApiError(E.E_VOLUME_STATE, "The root volume cannot be taken offline")
    if vol["state"] == "offline":
        raise ApiError(E.E_VOLUME_STATE, "Volume %s is already offline" % vol["name"])
    vol["state"] = "offline"


def volume_online(app, a):
    vol = app.volume(a.name("name"))
    if vol["state"] == "online":
        raise ApiError(E.E_VOLUME_STATE, "Volume %s is already online" % vol["name"])
    aggr = app.s["aggregates"].get(vol.get("aggregate"))
    vol["state"] = "online"
    if aggr and app.aggregate_used(aggr) > app.aggregate_total(aggr):
        vol["state"] = "offline"
        raise ApiError(E.ENOSPC, "Not enough space in aggregate %s to bring %s online"
                       % (aggr["name"], vol["name"]))


def volume_rename(app, a):
    vol = app.volume(a.name("volume"))
    new = a.name("new-volume-name")
    _check_new_name(app, new, "new-volume-name")
    old = vol["name"]
    app.s["volumes"] = {(new if k == old else k): v for k, v in app.s["volumes"].items()}
    vol["name"] = new
    app.rename_prefix(old, new)
    if app.s["root-volume"] == old:
        app.s["root-volume"] = new
    for other in app.s["volumes"].values():
        if other.get("clone-parent") == old:
            other["clone-parent"] = new
        other["clone-children"] = [new if c == old else c for c in other["clone-children"]]


def volume_size(app, a):
    new_size = a.text("new-size", False)
    vol = app.volume(a.name("volume"), online=True)
    if new_size:
        m = _RESIZE_RE.match(new_size)
        if not m:
            raise E.invalid("new-size", new_size)
        amount = S.parse_size(m.group(2), "new-size")
        size = {"+": vol["size"] + amount, "-": vol["size"] - amount}.get(m.group(1), amount)
        size = S.round_up(size, S.BLOCK)
        _check_volume_size(size)
        capacity = size - size * vol["snapshot-reserve-percent"] // 100
        if capacity < app.volume_used(vol):
            raise ApiError(E.EINVAL, "Volume %s holds more data than %s" % (vol["name"], new_size))
        aggr = app.s["aggregates"].get(vol.get("aggregate"))
        if (vol["space-reserve"] == "volume" and aggr
                and size - vol["size"] > app.aggregate_available(aggr)):
            raise ApiError(E.ENOSPC, "Insufficient space in aggregate %s to grow volume %s"
                           % (aggr["name"], vol["name"]))
        vol["size"] = size
    return [("volume-size", S.format_size(vol["size"]))]


def volume_clone_create(app, a):
    parent = app.volume(a.name("parent-volume"), online=True)
    name = a.name("volume")
    snap_name = a.text("parent-snapshot", False)
    reserve = a.text("space-reserve", False, parent["space-reserve"])
    if reserve not in S.SPACE_RESERVES:
        raise E.invalid("space-reserve", reserve)
    _check_new_name(app, name, "volume")
    aggr = app.aggregate(parent["aggregate"])
    if reserve == "volume" and parent["size"] > app.aggregate_available(aggr):
        raise ApiError(E.ENOSPC, "Insufficient space in aggregate %s to create clone %s"
                       % (aggr["name"], name))
    if snap_name:
        snap = next((s for s in parent["snapshots"] if s["name"] == snap_name), None)
        if snap is None:
            raise ApiError(E.E_SNAPSHOT_NOT_FOUND, "Snapshot %s does not exist in volume %s"
                           % (snap_name, parent["name"]))
    else:
        snap = {"name": "clone_%s.1" % name, "access-time": app.now(),
                "luns": app.freeze_volume_luns(parent["name"])}
        app._snapshot_defaults(snap)
        parent["snapshots"].append(snap)
    _new_volume(app, name, aggr, parent["size"], reserve,
                **{"clone-parent": parent["name"], "clone-snapshot": snap["name"],
                   "qtrees": [dict(q) for q in parent["qtrees"]],
                   "snapshot-reserve-percent": parent["snapshot-reserve-percent"]})
    parent["clone-children"].append(name)
    old_prefix, new_prefix = "/vol/%s/" % parent["name"], "/vol/%s/" % name
    for path, frozen in snap["luns"].items():
        # LUNs of a fresh clone are offline and unmapped, with serial numbers of their own.
        lun = {"path": new_prefix + path[len(old_prefix):], "size": frozen["size"],
               "type": frozen["type"], "data": dict(frozen["data"]), "online": False,
               "space-reservation": reserve != "none"}
        app._lun_defaults(app.s, lun)
        app.s["luns"][lun["path"]] = lun


def volume_options_list_info(app, a):
    vol = app.volume(a.name("volume"))
    options = dict(vol["options"])
    # The guarantee in effect is listed beside the configured one.
    options.setdefault("actual_guarantee", vol["space-reserve"])
    return [("options", [("volume-option-info", [("name", k), ("value", v)])
                         for k, v in options.items()])]


def volume_set_option(app, a):
    vol = app.volume(a.name("volume"), online=True)
    name = a.name("option-name")
    value = a.text("option-value")
    if name not in vol["options"]:
        raise ApiError(E.E_OPTION_NOT_FOUND, "No such volume option: %s" % name)
    current = vol["options"][name]
    if current in ("on", "off") and value not in ("on", "off"):
        raise E.invalid("option-value", value)
    if name == "fractional_reserve" and not (value.isdigit() and int(value) <= 100):
        raise E.invalid("option-value", value)
    if name == "guarantee":
        if value not in S.SPACE_RESERVES:
            raise E.invalid("option-value", value)
        aggr = app.s["aggregates"].get(vol.get("aggregate"))
        growth = vol["size"] - app.volume_footprint(vol)
        if value == "volume" and aggr and growth > app.aggregate_available(aggr):
            raise ApiError(E.ENOSPC, "Insufficient space in aggregate %s for guarantee volume"
                           % aggr["name"])
        vol["space-reserve"] = value
    vol["options"][name] = value


def volume_autosize_get(app, a):
    auto = app.volume(a.name("volume"))["autosize"]
    return [("is-enabled", auto["is-enabled"]), ("increment-size", auto["increment-size"]),
            ("maximum-size", auto["maximum-size"])]


def volume_container(app, a):
    return [("containing-aggregate", app.volume(a.name("volume"))["aggregate"])]


def _qtree_records(vol):
    yield ("qtree-info", [("id", 0), ("oplocks", "enabled"), ("qtree", ""),
                          ("security-style", vol.get("security-style", "ntfs")),
                          ("status", "normal"), ("volume", vol["name"])])
    for q in vol["qtrees"]:
        yield ("qtree-info", [("id", q["id"]), ("oplocks", q["oplocks"]), ("qtree", q["name"]),
                              ("security-style", q["security-style"]), ("status", q["status"]),
                              ("volume", vol["name"])])


def qtree_list(app, a):
    name = a.text("volume", False)
    vols = [app.volume(name, online=True)] if name else [
        v for v in app.s["volumes"].values() if v["state"] == "online"]
    return [("qtrees", [rec for vol in vols for rec in _qtree_records(vol)])]


def qtree_create(app, a):
    name = a.name("qtree")
    vol = app.volume(a.name("volume"), online=True)
    if not S.NAME_RE.match(name) or name == ".snapshot":
        raise E.invalid("qtree", name)
    if app.qtree(vol, name) is not None or "/vol/%s/%s" % (vol["name"], name) in app.s["luns"]:
        raise ApiError(E.E_NAME_EXISTS, "Qtree %s already exists in volume %s" % (name, vol["name"]))
    next_id = max((q["id"] for q in vol["qtrees"]), default=0) + 1
    vol["qtrees"].append({"name": name, "id": next_id,
                          "security-style": vol.get("security-style", "ntfs"),
                          "oplocks": "enabled", "status": "normal"})


HANDLERS = {
    "volume-list-info": volume_list_info,
    "volume-get-root-name": volume_get_root_name,
    "volume-create": volume_create,
    "volume-destroy": volume_destroy,
    "volume-offline": volume_offline,
    "volume-online": volume_online,
    "volume-rename": volume_rename,
    "volume-size": volume_size,
    "volume-clone-create": volume_clone_create,
    "volume-options-list-info": volume_options_list_info,
    "volume-set-option": volume_set_option,
    "volume-autosize-get": volume_autosize_get,
    "volume-container": volume_container,
    "qtree-list": qtree_list,
    "qtree-create": qtree_create,
}
