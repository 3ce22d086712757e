"""Files on the appliance: read, write, delete, truncate, and the space
reservation flags of a file or a LUN."""

from . import errors as E
from . import state as S
from .errors import ApiError

MAX_FILE_IO = 1024 * 1024


def _volume(app, path):
    vol = app.s["volumes"].get(S.volume_name_of(path))
    if vol is None or vol["state"] != "online" or len(path.split("/")) < 4 or path.endswith("/"):
        raise ApiError(E.ENOENT, "No such file or directory: %s" % path)
    return vol


def _file(app, path):
    _volume(app, path)
    entry = app.s["files"].get(path)
    if entry is None:
        raise ApiError(E.ENOENT, "No such file or directory: %s" % path)
    return entry


def file_read_file(app, a):
    length = a.int("length", True, minimum=0, maximum=MAX_FILE_IO)
    offset = a.int("offset", True, minimum=0)
    entry = _file(app, a.name("path"))
    chunk = entry["data"][offset:offset + length]
    return [("data", chunk.decode("utf-8", "replace")), ("length", len(chunk))]


def file_write_file(app, a):
    data = a.text("data").encode("utf-8")
    offset = a.int("offset", True, minimum=-1)
    overwrite = a.bool("overwrite", default=False)
    path = a.name("path")
    vol = _volume(app, path)
    if path in app.s["luns"]:
        raise ApiError(E.EEXIST, "%s is a LUN" % path)
    entry = app.s["files"].get(path)
    if entry is not None and not overwrite:
        raise ApiError(E.EEXIST, "File %s exists" % path)
    old = entry["data"] if entry else b""
    start = len(old) if offset == -1 else offset
    new = old[:start].ljust(start, b"\0") + data + old[start + len(data):]
    app.need_space(vol, len(new) - len(old), "file %s" % path)
    if entry is None:
        entry = app.s["files"][path] = {"overwrite-reserved": False, "fill-reserved": False}
    entry["data"] = new
    return [("length", len(data))]


def file_delete_file(app, a):
    path = a.name("path")
    _file(app, path)
    del app.s["files"][path]


def file_truncate_file(app, a):
    path = a.name("path")
    size = a.int("size", True, minimum=0, maximum=S.MAX_VOLUME_SIZE)
    entry = _file(app, path)
    if size > len(entry["data"]):
        app.need_space(_volume(app, path), size - len(entry["data"]), "file %s" % path)
    entry["data"] = entry["data"][:size].ljust(size, b"\0")


def file_get_space_reservation_info(app, a):
    path = a.name("path")
    if path in app.s["luns"]:
        reserved = app.lun(path)["space-reservation"]
        return [("is-overwrite-enabled", reserved), ("is-fill-enabled", reserved)]
    entry = _file(app, path)
    return [("is-overwrite-enabled", entry["overwrite-reserved"]),
            ("is-fill-enabled", entry["fill-reserved"])]


def file_set_space_reservation_info(app, a):
    path = a.name("path")
    overwrite = a.bool("is-overwrite-enabled", True)
    fill = a.bool("is-fill-enabled", True)
    if path in app.s["luns"]:
        lun = app.lun(path)
        if fill and not lun["space-reservation"]:
            app.need_space(_volume(app, path), lun["size"] - len(lun["data"]) * S.SECTOR,
                           "space reservation of %s" % path)
        lun["space-reservation"] = fill
        return
    entry = _file(app, path)
    entry["overwrite-reserved"] = overwrite
    entry["fill-reserved"] = fill


HANDLERS = {
    "file-read-file": file_read_file,
    "file-write-file": file_write_file,
    "file-delete-file": file_delete_file,
    "file-truncate-file": file_truncate_file,
    "file-get-space-reservation-info": file_get_space_reservation_info,
    "file-set-space-reservation-info": file_set_space_reservation_info,
}
