"""Snapshots of volumes: listing, creation (keeping copies of the volume's
LUNs and files), deletion, renaming, schedules, single-file restore and the
space figures."""

from . import errors as E
from . import state as S
from .errors import ApiError

MAX_SNAPSHOTS = 255


def _snapshot(vol, name):
    for snap in vol["snapshots"]:
        if snap["name"] == name:
            return snap
    raise ApiError(E.E_SNAPSHOT_NOT_FOUND, "Snapshot %s does not exist in volume %s"
                   % (name, vol["name"]))


def _dependency(app, vol, snap):
    """What keeps a snapshot busy: LUNs backed by it and clones made from it."""
    deps = []
    prefix = "/vol/%s/" % vol["name"]
    if any(l["backing-snapshot"] == snap["name"] and l["path"].startswith(prefix)
           for l in app.s["luns"].values()):
        deps.append("LUNs")
    if any(v.get("clone-parent") == vol["name"] and v.get("clone-snapshot") == snap["name"]
           for v in app.s["volumes"].values()):
        deps.append("vclone")
    for word in snap["dependency"].split(","):
        if word and word != "busy" and word not in deps:
            deps.append(word)
    return deps


def snapshot_list_info(app, a):
    vol = app.volume(a.name("volume"), online=True)
    terse = a.bool("terse", default=False)
    records = []
    for snap in vol["snapshots"]:
        deps = _dependency(app, vol, snap)
        busy = bool(snap["busy"] or deps)
        fields = [("name", snap["name"]), ("access-time", snap["access-time"]), ("busy", busy),
                  ("dependency", ",".join((["busy"] if busy else []) + deps) or None)]
        for key in ("cumulative-percentage-of-total-blocks", "cumulative-percentage-of-used-blocks",
                    "percentage-of-total-blocks", "percentage-of-used-blocks"):
            fields.append((key, snap[key]))
        if not terse:
            fields += [("total", snap["total"]), ("cumulative-total", snap["cumulative-total"])]
        records.append(("snapshot-info", fields))
    return [("snapshots", records)]


def snapshot_create(app, a):
    vol = app.volume(a.name("volume"), online=True)
    name = a.name("snapshot")
    a.bool("async", default=False)
    if not S.NAME_RE.match(name):
        raise E.invalid("snapshot", name)
    if any(s["name"] == name for s in vol["snapshots"]):
        raise ApiError(E.E_SNAPSHOT_EXISTS, "Snapshot %s already exists in volume %s"
                       % (name, vol["name"]))
    if len(vol["snapshots"]) >= MAX_SNAPSHOTS:
        raise ApiError(E.E_INVALID_INPUT, "Volume %s already has %d snapshots"
                       % (vol["name"], MAX_SNAPSHOTS))
    prefix = "/vol/%s/" % vol["name"]
    snap = {"name": name, "access-time": app.now(),
            "luns": app.freeze_volume_luns(vol["name"]),
            "files": {p: e["data"].decode("utf-8", "replace")
                      for p, e in app.s["files"].items() if p.startswith(prefix)}}
    app._snapshot_defaults(snap)
    vol["snapshots"].append(snap)


def snapshot_delete(app, a):
    vol = app.volume(a.name("volume"), online=True)
    snap = _snapshot(vol, a.name("snapshot"))
    if snap["busy"] or _dependency(app, vol, snap):
        raise ApiError(E.E_SNAPSHOT_BUSY, "Snapshot %s is busy" % snap["name"])
    vol["snapshots"].remove(snap)


def snapshot_rename(app, a):
    vol = app.volume(a.name("volume"), online=True)
    snap = _snapshot(vol, a.name("current-name"))
    new = a.name("new-name")
    if not S.NAME_RE.match(new):
        raise E.invalid("new-name", new)
    if any(s["name"] == new for s in vol["snapshots"]):
        raise ApiError(E.E_SNAPSHOT_EXISTS, "Snapshot %s already exists in volume %s"
                       % (new, vol["name"]))
    prefix = "/vol/%s/" % vol["name"]
    for lun in app.s["luns"].values():
        if lun["path"].startswith(prefix) and lun["backing-snapshot"] == snap["name"]:
            lun["backing-snapshot"] = new
    for other in app.s["volumes"].values():
        if other.get("clone-parent") == vol["name"] and other.get("clone-snapshot") == snap["name"]:
            other["clone-snapshot"] = new
    snap["name"] = new


def snapshot_get_schedule(app, a):
    sched = app.volume(a.name("volume"))["snapshot-schedule"]
    return [("weeks", sched["weeks"]), ("days", sched["days"]), ("hours", sched["hours"]),
            ("minutes", sched["minutes"]), ("which-hours", sched["which-hours"] or None),
            ("which-minutes", sched["which-minutes"] or None)]


def snapshot_set_schedule(app, a):
    vol = app.volume(a.name("volume"), online=True)
    sched = {key: a.int(key, True, minimum=0, maximum=MAX_SNAPSHOTS)
             for key in ("weeks", "days", "hours", "minutes")}
    sched["which-hours"] = a.text("which-hours", False, "")
    sched["which-minutes"] = a.text("which-minutes", False, "")
    vol["snapshot-schedule"] = sched


def snapshot_restore_file(app, a):
    path = a.name("path")
    vol = app.volume_of_path(path)
    snap = _snapshot(vol, a.name("snapshot"))
    target = a.text("restore-path", False) or path
    if S.volume_name_of(target) != vol["name"]:
        raise ApiError(E.EINVAL, "A file is restored within its volume")
    if path in snap["luns"]:
        frozen = snap["luns"][path]
        lun = app.s["luns"].get(target)
        if lun is None:
            lun = {"path": target, "size": frozen["size"], "type": frozen["type"]}
            app._lun_defaults(app.s, lun)
            app.s["luns"][target] = lun
        lun["size"] = frozen["size"]
        lun["data"] = dict(frozen["data"])
    elif path in snap.get("files", {}):
        entry = app.s["files"].setdefault(target, {"overwrite-reserved": False,
                                                   "fill-reserved": False})
        entry["data"] = snap["files"][path].encode("utf-8")
    else:
        raise ApiError(E.ENOENT, "%s does not exist in snapshot %s" % (path, snap["name"]))


def snapshot_volume_info(app, a):
    vol = app.volume(a.name("volume"), online=True)
    reserve = vol["size"] * vol["snapshot-reserve-percent"] // 100
    used = sum(s["total"] for s in vol["snapshots"]) * S.KIB
    return [("size-available", max(0, reserve - used))]


def snapshot_delta_info(app, a):
    first = a.name("snapshot1")
    second = a.text("snapshot2", False)
    vol = app.volume(a.name("volume"), online=True)
    names = [s["name"] for s in vol["snapshots"]]
    start = names.index(_snapshot(vol, first)["name"])
    end = names.index(_snapshot(vol, second)["name"]) if second else len(names) - 1
    if end < start:
        raise ApiError(E.EINVAL, "Snapshot %s is older than %s" % (second, first))
    consumed = sum(s["total"] for s in vol["snapshots"][start + 1:end + 1]) * S.KIB
    return [("consumed-size", consumed)]


def snapshot_reclaimable_info(app, a):
    vol = app.volume(a.name("volume"), online=True)
    holder = a.child("snapshots")
    names = [c.text or "" for c in holder.findall("snapshot-name")] if holder is not None else []
    if not names:
        raise E.missing("snapshots")
    return [("reclaimable-size", sum(_snapshot(vol, n)["total"] for n in names) * S.KIB)]


def snapshot_autodelete_list_info(app, a):
    vol = app.volume(a.name("volume"))
    return [("options", [("snapshot-autodelete-info", [("option-name", k), ("option-value", v)])
                         for k, v in vol["snapshot-autodelete"]])]


HANDLERS = {
    "snapshot-list-info": snapshot_list_info,
    "snapshot-create": snapshot_create,
    "snapshot-delete": snapshot_delete,
    "snapshot-rename": snapshot_rename,
    "snapshot-get-schedule": snapshot_get_schedule,
    "snapshot-set-schedule": snapshot_set_schedule,
    "snapshot-restore-file": snapshot_restore_file,
    "snapshot-volume-info": snapshot_volume_info,
    "snapshot-delta-info": snapshot_delta_info,
    "snapshot-reclaimable-info": snapshot_reclaimable_info,
    "snapshot-autodelete-list-info": snapshot_autodelete_list_info,
}
