"""Aggregates with their plexes and RAID groups, the root name, disks, and
adding spare disks to an aggregate."""

from . import errors as E
from . import state as S
from .errors import ApiError


def _placement(app):
    """disk name -> (aggregate, plex, RAID group) for every disk in a RAID group."""
    where = {}
    for aggr in app.s["aggregates"].values():
        for plex in aggr["plexes"]:
            for rg in plex.get("raid-groups", ()):
                for name in rg.get("disks", ()):
                    where[name] = (aggr["name"], plex["name"], rg["name"])
    return where


def _aggr_record(app, aggr, verbose):
    total = app.aggregate_total(aggr)
    used = min(app.aggregate_used(aggr), total)
    plexes = []
    for plex in aggr["plexes"]:
        fields = [("name", plex["name"]), ("is-online", plex.get("is-online", True)),
                  ("is-resyncing", plex.get("is-resyncing", False))]
        if verbose:
            fields.append(("resyncing-percentage", plex.get("resyncing-percentage", 0)))
            fields.append(("raid-groups", [("raid-group-info", [
                ("name", rg["name"]),
                ("is-reconstructing", rg.get("is-reconstructing", False)),
                ("reconstruction-percentage", rg.get("reconstruction-percentage", 0)),
                ("disks", [("disk-info", [("name", d)]) for d in rg.get("disks", ())]),
            ]) for rg in plex.get("raid-groups", ())]))
        plexes.append(("plex-info", fields))
    volumes = [v["name"] for v in app.s["volumes"].values() if v.get("aggregate") == aggr["name"]]
    return ("aggr-info", [
        ("name", aggr["name"]), ("uuid", aggr["uuid"]), ("state", aggr["state"]),
        ("type", aggr["type"]), ("raid-status", aggr["raid-status"]),
        ("raid-size", aggr["raid-size"]), ("checksum-style", "block"),
        ("mirror-status", "mirrored" if len(aggr["plexes"]) > 1 else "unmirrored"),
        ("disk-count", len(app.aggregate_disks(aggr))), ("plex-count", len(aggr["plexes"])),
        ("volume-count", len(volumes)),
        ("files-total", aggr["files-total"]), ("files-used", aggr["files-used"]),
        ("size-total", total), ("size-used", used), ("size-available", total - used),
        ("size-percentage-used", used * 100 // total if total else 0),
        ("has-local-root", app.s["root-volume"] in volumes),
        ("plexes", plexes),
        ("volumes", [("contained-volume-info", [("name", v)]) for v in volumes]),
    ])


def aggr_list_info(app, a):
    name = a.text("aggregate", False)
    verbose = a.bool("verbose", default=False)
    aggrs = [app.aggregate(name)] if name else list(app.s["aggregates"].values())
    with app.space_snapshot():
        return [("aggregates", [_aggr_record(app, ag, verbose) for ag in aggrs])]


def aggr_get_root_name(app, a):
    # The element is named after the root volume, and callers build root-volume
    # paths from it: answer the root volume's name.
    return [("root-volume", app.s["root-volume"])]


def _disk_record(disk, where):
    placed = where.get(disk["name"])
    if placed:
        aggr, plex, rg = placed
        raid_state = disk.get("raid-state", "present")
        raid_type = disk.get("raid-type", "data")
    else:
        aggr = plex = rg = None
        raid_state = disk.get("raid-state", "spare")
        raid_type = disk.get("raid-type", "spare" if raid_state == "spare" else raid_state)
    return ("disk-detail-info", [
        ("name", disk["name"]), ("id", disk["id"]),
        ("host-adapter", disk.get("host-adapter", "")), ("port", disk.get("port", "")),
        ("port-name", disk.get("port-name", "")),
        ("shelf", disk.get("shelf", "")), ("bay", disk.get("bay", "")),
        ("physical-space", disk.get("physical-space", 0)), ("used-space", disk.get("used-space", 0)),
        ("vendor-id", disk.get("vendor-id", "")), ("disk-model", disk.get("disk-model")),
        ("serial-number", disk.get("serial-number", "")),
        ("firmware-revision", disk.get("firmware-revision")),
        ("disk-type", disk.get("disk-type", "FCAL")), ("rpm", disk.get("rpm")),
        ("pool", disk.get("pool", 0)),
        ("volume", aggr), ("plex", plex), ("raid-group", rg),
        ("raid-state", raid_state), ("raid-type", raid_type),
    ])


def disk_list_info(app, a):
    name = a.text("disk", False)
    disks = app.s["disks"]
    if name:
        if name not in disks:
            raise ApiError(E.E_DISK_NOT_FOUND, "Disk %s does not exist" % name)
        chosen = [disks[name]]
    else:
        chosen = list(disks.values())
    where = _placement(app)
    return [("disk-details", [_disk_record(d, where) for d in chosen])]


def _is_spare(disk, where):
    return disk["name"] not in where and disk.get("raid-state", "spare") == "spare"


def aggr_add(app, a):
    aggr = app.aggregate(a.name("aggregate"))
    count = a.int("disk-count", minimum=0, default=0)
    min_mib = a.int("disk-size", minimum=0, default=0)
    names = a.all_texts("disks")
    if a.all_texts("mirror-disks") and len(aggr["plexes"]) < 2:
        raise ApiError(E.E_INVALID_INPUT, "Aggregate %s is not mirrored" % aggr["name"])
    if not aggr["plexes"]:
        raise ApiError(E.E_INVALID_INPUT, "Aggregate %s has no plex" % aggr["name"])
    where = _placement(app)
    disks = app.s["disks"]
    adding, bad = [], []
    for name in names:
        if name not in disks:
            raise ApiError(E.E_DISK_NOT_FOUND, "Disk %s does not exist" % name)
        (adding if _is_spare(disks[name], where) else bad).append(name)
    if count:
        spares = [d["name"] for d in disks.values() if _is_spare(d, where)
                  and d["name"] not in adding and d.get("used-space", 0) >= min_mib * S.MIB]
        if len(spares) < count:
            raise ApiError(E.E_DISK_NOT_FOUND, "Only %d suitable spare disks, %d asked for"
                           % (len(spares), count))
        adding += spares[:count]
    if not adding and not bad:
        raise ApiError(E.E_INVALID_INPUT, "No disks to add")
    plex = aggr["plexes"][0]
    groups = plex.setdefault("raid-groups", [])
    rg_name = a.text("raid-group", False)
    for name in adding:
        if rg_name:
            rg = next((g for g in groups if g["name"] in (rg_name, "%s/%s" % (plex["name"], rg_name))),
                      None)
            if rg is None:
                rg = {"name": rg_name if rg_name.startswith("/") else "%s/%s" % (plex["name"], rg_name),
                      "disks": []}
                groups.append(rg)
        elif groups and len(groups[-1]["disks"]) < aggr["raid-size"]:
            rg = groups[-1]
        else:
            rg = {"name": "%s/rg%d" % (plex["name"], len(groups)), "disks": []}
            groups.append(rg)
        parity = ("dparity", "parity") if aggr["raid-status"].startswith("raid_dp") else ("parity",)
        role = parity[len(rg["disks"])] if len(rg["disks"]) < len(parity) else "data"
        rg["disks"].append(name)
        disks[name]["raid-state"] = "present"
        disks[name]["raid-type"] = role
        if "size-total" in aggr and role == "data":
            aggr["size-total"] += disks[name].get("used-space", 0) * 9 // 10 // S.BLOCK * S.BLOCK
    return [("bad-disks", [("disk-info", [("name", n)]) for n in bad])]


HANDLERS = {
    "aggr-list-info": aggr_list_info,
    "aggr-get-root-name": aggr_get_root_name,
    "aggr-add": aggr_add,
    "disk-list-info": disk_list_info,
}
