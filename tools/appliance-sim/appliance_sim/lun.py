"""LUN requests: listing, creation, destruction, resizing, moving, state and
serial numbers, attributes, space reservation, raw data and status queries."""

import base64
import binascii

from . import errors as E
from . import state as S
from .errors import ApiError


def lun_record(app, lun):
    return ("lun-info", [
        ("path", lun["path"]),
        ("size", lun["size"]),
        ("size-used", lun["size"] if lun["space-reservation"] else len(lun["data"]) * S.SECTOR),
        ("online", lun["online"]),
        ("mapped", bool(lun["maps"])),
        ("read-only", lun["read-only"]),
        ("share-state", lun["share-state"]),
        ("serial-number", lun["serial-number"]),
        ("multiprotocol-type", lun["type"]),
        ("is-space-reservation-enabled", lun["space-reservation"]),
        ("backing-snapshot", lun["backing-snapshot"] or None),
        ("comment", lun["comment"] or None),
    ])


def lun_list_info(app, a):
    path = a.text("path", False)
    luns = [app.lun(path)] if path else app.visible_luns()
    return [("luns", [lun_record(app, lun) for lun in luns])]


def _os_type(a, default="image"):
    ostype = a.text("type", False, default)
    if ostype not in S.LUN_OS_TYPES:
        raise E.invalid("type", ostype)
    return ostype


def _check_new_path(app, path):
    vol_name, qtree, name = app.split_lun_path(path)
    vol = app.volume(vol_name, online=True)
    if qtree and app.qtree(vol, qtree) is None:
        raise ApiError(E.E_QTREE_NOT_FOUND, "Qtree %s does not exist in volume %s" % (qtree, vol_name))
    if not S.NAME_RE.match(name):
        raise ApiError(E.E_BAD_LUN_PATH, "Invalid LUN name %s" % name)
    if path in app.s["luns"]:
        raise ApiError(E.E_LUN_EXISTS, "A LUN already exists at %s" % path)
    if path in app.s["files"]:
        raise ApiError(E.EEXIST, "A file already exists at %s" % path)
    return vol


def _check_size(size):
    if size < S.MIN_LUN_SIZE or size > S.MAX_LUN_SIZE:
        raise ApiError(E.EINVAL, "Invalid LUN size %d: it must lie between %d and %d bytes"
                       % (size, S.MIN_LUN_SIZE, S.MAX_LUN_SIZE))


def create_lun(app, path, size, ostype, reserve, data=None, **extra):
    vol = _check_new_path(app, path)
    _check_size(size)
    actual = S.round_up(size, S.BLOCK)
    if reserve:
        app.need_space(vol, actual, "LUN %s" % path)
    lun = {"path": path, "size": actual, "type": ostype, "space-reservation": reserve,
           "data": dict(data or {})}
    lun.update(extra)
    app._lun_defaults(app.s, lun)
    app.s["luns"][path] = lun
    return [("actual-size", actual)]


def lun_create_by_size(app, a):
    path = a.name("path")
    size = a.int("size", True, minimum=0)
    return create_lun(app, path, size, _os_type(a),
                      a.bool("space-reservation-enabled", default=True))


def lun_create_from_file(app, a):
    path = a.name("path")
    file_name = a.name("file-name")
    entry = app.s["files"].get(file_name)
    vol_name = S.volume_name_of(file_name)
    if entry is None or app.s["volumes"].get(vol_name, {}).get("state") != "online":
        raise ApiError(E.ENOENT, "No such file: %s" % file_name)
    if vol_name != S.volume_name_of(path):
        raise ApiError(E.E_LUN_OTHER_VOLUME, "The file and the LUN must be in the same volume")
    sectors = {}
    S.write_sectors(sectors, 0, entry["data"])
    return create_lun(app, path, len(entry["data"]), _os_type(a),
                      a.bool("space-reservation-enabled", default=True), sectors)


def lun_create_from_snapshot(app, a):
    path = a.name("path")
    source = a.name("snapshot-lun-path")
    parts = source.split("/")
    if len(parts) < 6 or parts[:2] != ["", "vol"] or parts[3] != ".snapshot":
        raise ApiError(E.E_BAD_LUN_PATH, "Invalid snapshot LUN path %s" % source)
    vol = app.volume(parts[2], online=True)
    snap = next((s for s in vol["snapshots"] if s["name"] == parts[4]), None)
    if snap is None:
        raise ApiError(E.E_SNAPSHOT_NOT_FOUND, "Snapshot %s does not exist in volume %s"
                       % (parts[4], parts[2]))
    frozen = snap["luns"].get("/vol/%s/%s" % (parts[2], "/".join(parts[5:])))
    if frozen is None:
        raise ApiError(E.E_NO_SUCH_LUN, "No such LUN exists in snapshot %s" % snap["name"])
    if S.volume_name_of(path) != parts[2]:
        raise ApiError(E.E_LUN_OTHER_VOLUME, "The LUN must be created in the snapshot's volume")
    return create_lun(app, path, frozen["size"], _os_type(a, frozen["type"]),
                      a.bool("space-reservation-enabled", default=True), frozen["data"],
                      **{"backing-snapshot": snap["name"], "backing-store": source})


def lun_destroy(app, a):
    path = a.name("path")
    lun = app.lun(path)
    if lun["maps"] and not a.bool("force", default=False):
        raise ApiError(E.E_LUN_MAPPED, "LUN %s is mapped; unmap it or use force" % path)
    del app.s["luns"][path]


def lun_resize(app, a):
    path = a.name("path")
    size = a.int("size", True, minimum=0)
    force = a.bool("force", default=False)
    lun = app.lun(path)
    new = S.round_up(size, S.BLOCK)
    if new > lun["geometry-max"]:
        raise ApiError(E.E_RESIZE_GEOMETRY, "New size exceeds this LUN's geometry (at most %d bytes)"
                       % lun["geometry-max"])
    if new < lun["size"] and not force:
        raise ApiError(E.E_RESIZE_SHRINK, "Reducing the size of a LUN may cause data loss; use force")
    if 0 < new - lun["size"] < S.MIN_RESIZE_STEP:
        raise ApiError(E.E_RESIZE_TOO_SMALL, "Size increase is too small for this LUN's geometry")
    _check_size(new)
    if lun["space-reservation"]:
        app.need_space(app.volume(S.volume_name_of(path)), new - lun["size"],
                       "resize of LUN %s" % path)
    lun["size"] = new
    for index in [i for i in lun["data"] if i * S.SECTOR >= new]:
        del lun["data"][index]
    return [("actual-size", new)]


def lun_offline(app, a):
    app.lun(a.name("path"))["online"] = False


def lun_online(app, a):
    app.lun(a.name("path"))["online"] = True


def lun_set_serial_number(app, a):
    lun = app.lun(a.name("path"))
    serial = a.name("serial-number")
    if len(serial) != 12 or not all(33 <= ord(c) < 127 for c in serial):
        raise ApiError(E.E_INVALID_INPUT, "A serial number is 12 printable characters")
    if lun["online"]:
        raise ApiError(E.E_LUN_ONLINE, "LUN %s must be offline to change its serial number"
                       % lun["path"])
    lun["serial-number"] = serial


def lun_get_serial_number(app, a):
    return [("serial-number", app.lun(a.name("path"))["serial-number"])]


def lun_move(app, a):
    new_path = a.name("new-path")
    path = a.name("path")
    lun = app.lun(path)
    if S.volume_name_of(new_path) != S.volume_name_of(path):
        raise ApiError(E.E_LUN_OTHER_VOLUME, "A LUN can only be moved within its volume")
    _check_new_path(app, new_path)
    del app.s["luns"][path]
    lun["path"] = new_path
    app.s["luns"][new_path] = lun


def lun_get_maxsize(app, a):
    path = a.name("path")
    _os_type(a)
    vol = app.volume_of_path(path)
    parts = path.rstrip("/").split("/")
    if len(parts) > 3 and app.qtree(vol, parts[3]) is None:
        raise ApiError(E.E_QTREE_NOT_FOUND, "Qtree %s does not exist in volume %s"
                       % (parts[3], vol["name"]))
    avail = app.volume_available(vol) // S.BLOCK * S.BLOCK
    without = avail if avail >= S.MIN_LUN_SIZE else 0
    half = avail // 2 // S.BLOCK * S.BLOCK
    return [("without-snapshot-reserve", min(without, S.MAX_LUN_SIZE)),
            ("with-snapshot-reserve", min(half if half >= S.MIN_LUN_SIZE else 0, S.MAX_LUN_SIZE))]


def lun_get_space_reservation_info(app, a):
    return [("is-enabled", app.lun(a.name("path"))["space-reservation"])]


def lun_set_space_reservation_info(app, a):
    path = a.name("path")
    lun = app.lun(path)
    enable = a.bool("enable", True)
    if enable and not lun["space-reservation"]:
        app.need_space(app.volume(S.volume_name_of(path)), lun["size"] - len(lun["data"]) * S.SECTOR,
                       "space reservation of LUN %s" % path)
    lun["space-reservation"] = enable


def lun_get_attribute(app, a):
    lun = app.lun(a.name("path"))
    name = a.name("name")
    if name not in lun["attributes"]:
        raise ApiError(app.s["quirks"]["missing-attribute-errno"], "No such attribute: %s" % name)
    return [("value", lun["attributes"][name])]


def lun_set_attribute(app, a):
    lun = app.lun(a.name("path"))
    lun["attributes"][a.name("name")] = a.text("value")


def _raw_range(a, lun):
    offset = a.int("offset", True, minimum=0)
    length = a.int("length", True, minimum=1, maximum=S.MAX_RAW_IO)
    if offset + length > lun["size"]:
        raise ApiError(E.EINVAL, "Offset %d and length %d reach beyond the end of the LUN (%d bytes)"
                       % (offset, length, lun["size"]))
    return offset, length


def lun_read_raw(app, a):
    lun = app.lun(a.name("path"))
    offset, length = _raw_range(a, lun)
    return [("encoded-data", base64.b64encode(app.lun_read(lun, offset, length)).decode())]


def lun_write_raw(app, a):
    lun = app.lun(a.name("path"))
    offset, length = _raw_range(a, lun)
    text = a.text("encoded-data")
    try:
        data = base64.b64decode(text, validate=True)
    except (binascii.Error, ValueError):
        raise E.invalid("encoded-data", text[:32]) from None
    if len(data) != length:
        raise ApiError(E.E_INVALID_INPUT, "encoded-data holds %d bytes, length says %d"
                       % (len(data), length))
    if lun["read-only"]:
        raise ApiError(E.EINVAL, "LUN %s is read-only" % lun["path"])
    app.lun_write(lun, offset, data)


def lun_restore_status(app, a):
    return [("is-running", app.lun(a.name("path"))["restore-running"])]


def _clone_list(app, a, key, list_name):
    path = a.text("path", False)
    luns = [app.lun(path)] if path else app.visible_luns()
    entries = [("lun-clone-status-info", [
        ("blocks-completed", lun[key]["blocks-completed"]),
        ("blocks-total", lun[key]["blocks-total"]),
        ("path", lun["path"])]) for lun in luns if lun[key]]
    return [(list_name, entries)]


def lun_clone_split_status_list_info(app, a):
    return _clone_list(app, a, "clone-split-status", "clone-statusus")


def lun_clone_status_list_info(app, a):
    return _clone_list(app, a, "clone-status", "clone-status")


def lun_snap_usage_list_info(app, a):
    vol = app.volume(a.name("volume"), online=True)
    snapshot = a.name("snapshot")
    if not any(s["name"] == snapshot for s in vol["snapshots"]):
        raise ApiError(E.E_SNAPSHOT_NOT_FOUND, "Snapshot %s does not exist in volume %s"
                       % (snapshot, vol["name"]))
    prefix = "/vol/%s/" % vol["name"]
    users = [("lun-snap-usage-info", [("backing-store", lun.get("backing-store", "")),
                                      ("path", lun["path"]), ("snapshot", snapshot)])
             for lun in app.visible_luns()
             if lun["path"].startswith(prefix) and lun["backing-snapshot"] == snapshot]
    return [("lun-snap-usage-luns", users)]


def initiator_logged_in(app, name):
    want = name.lower()
    for adapter in app.s["fcp"]["adapters"].values():
        if any(i.get("port-name", "").lower() == want for i in adapter["initiators"]):
            return True
    return any(s.get("initiator-nodename", "").lower() == want for s in app.s["iscsi"]["sessions"])


def lun_initiator_logged_in(app, a):
    return [("is-logged-in", initiator_logged_in(app, a.name("initiator")))]


def lun_port_has_scsi_reservations(app, a):
    lun = app.lun(a.name("path"))
    port = a.name("portname").lower()
    return [("is-reservation-held", any(r.lower() == port for r in lun["scsi-reservations"]))]


def lun_has_scsi_reservations(app, a):
    return [("is-reservation-held", bool(app.lun(a.name("path"))["scsi-reservations"]))]


def lun_get_inquiry_info(app, a):
    app.igroup(a.name("initiator-group-name"))
    inquiry = app.s["quirks"]["inquiry"]
    return [("vendor-id", inquiry["vendor-id"]), ("product-id", inquiry["product-id"]),
            ("firmware-revision", inquiry["firmware-revision"])]


HANDLERS = {
    "lun-list-info": lun_list_info,
    "lun-create-by-size": lun_create_by_size,
    "lun-create-from-file": lun_create_from_file,
    "lun-create-from-snapshot": lun_create_from_snapshot,
    "lun-destroy": lun_destroy,
    "lun-resize": lun_resize,
    "lun-offline": lun_offline,
    "lun-online": lun_online,
    "lun-set-serial-number": lun_set_serial_number,
    "lun-get-serial-number": lun_get_serial_number,
    "lun-move": lun_move,
    "lun-get-maxsize": lun_get_maxsize,
    "lun-get-space-reservation-info": lun_get_space_reservation_info,
    "lun-set-space-reservation-info": lun_set_space_reservation_info,
    "lun-get-attribute": lun_get_attribute,
    "lun-set-attribute": lun_set_attribute,
    "lun-read-raw": lun_read_raw,
    "lun-write-raw": lun_write_raw,
    "lun-restore-status": lun_restore_status,
    "lun-clone-split-status-list-info": lun_clone_split_status_list_info,
    "lun-clone-status-list-info": lun_clone_status_list_info,
    "lun-snap-usage-list-info": lun_snap_usage_list_info,
    "lun-initiator-logged-in": lun_initiator_logged_in,
    "lun-port-has-scsi-reservations": lun_port_has_scsi_reservations,
    "lun-has-scsi-reservations": lun_has_scsi_reservations,
    "lun-get-inquiry-info": lun_get_inquiry_info,
}
