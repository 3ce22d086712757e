"""The appliance's state: loaded from a JSON fixture, changed by requests,
exported back in the fixture's form.

The fixture form (see README.md) keeps lists where order matters to the
client (listings come back in fixture order); internally objects are kept in
dicts keyed by name or path, which preserve that order. LUN data is kept as
sparse 512-byte sectors.
"""

import base64
import contextlib
import copy
import hashlib
import re
import threading
import time
import uuid

from . import errors as E
from .errors import ApiError

SECTOR = 512
BLOCK = 4096
KIB = 1024
MIB = 1024 * KIB
GIB = 1024 * MIB
TIB = 1024 * GIB
MIN_LUN_SIZE = 4 * MIB
MAX_LUN_SIZE = 16 * TIB
MIN_RESIZE_STEP = MIB
MAX_VOLUME_SIZE = 16 * TIB
MIN_VOLUME_SIZE = 20 * MIB
WAFL_RESERVE_PERCENT = 10
MAX_RAW_IO = 1024 * 1024

LUN_OS_TYPES = ("solaris", "windows", "hpux", "aix", "linux", "image", "vld",
                "netware", "vmware", "windows_gpt", "xen", "hyper_v")
IGROUP_OS_TYPES = ("default", "solaris", "windows", "hpux", "aix", "linux",
                   "netware", "vmware", "xen", "hyper_v")
IGROUP_TYPES = ("fcp", "iscsi")
SPACE_RESERVES = ("none", "file", "volume")
NAME_RE = re.compile(r"^[A-Za-z_][A-Za-z0-9_.-]{0,254}$")
WWN_RE = re.compile(r"^([0-9a-fA-F]{2}:){7}[0-9a-fA-F]{2}$")

_UNITS = {"": 1, "b": 1, "k": KIB, "m": MIB, "g": GIB, "t": TIB}
_SIZE_RE = re.compile(r"^\s*([0-9]+)\s*([bkmgtBKMGT]?)\s*$")


def parse_size(text, name="size"):
    """A size as the appliance takes it: bytes, or a number with k, m, g, t."""
    m = _SIZE_RE.match(text or "")
    if not m:
        raise E.invalid(name, text)
    return int(m.group(1)) * _UNITS[m.group(2).lower()]


def format_size(n):
    """The largest unit that divides the size exactly, as the appliance writes it."""
    for unit, factor in (("t", TIB), ("g", GIB), ("m", MIB), ("k", KIB)):
        if n and n % factor == 0:
            return "%d%s" % (n // factor, unit)
    return str(n)


def round_up(n, step):
    return -(-n // step) * step


def volume_name_of(path):
    """The volume of a "/vol/<volume>/..." path, or "" for any other text."""
    parts = path.split("/")
    return parts[2] if len(parts) > 2 and parts[0] == "" and parts[1] == "vol" else ""


def is_initiator_name(kind, name):
    if kind == "fcp":
        return bool(WWN_RE.match(name))
    return name.startswith("iqn.") or name.startswith("eui.")


def _sectors_from_fixture(runs):
    sectors = {}
    for run in runs or ():
        data = base64.b64decode(run["base64"])
        write_sectors(sectors, int(run["offset"]), data)
    return sectors


def _sectors_to_fixture(sectors):
    runs = []
    for index in sorted(sectors):
        data = sectors[index]
        if runs and runs[-1][0] + len(runs[-1][1]) == index * SECTOR:
            runs[-1][1].extend(data)
        else:
            runs.append((index * SECTOR, bytearray(data)))
    return [{"offset": off, "base64": base64.b64encode(bytes(buf)).decode()} for off, buf in runs]


def write_sectors(sectors, offset, data):
    pos = 0
    while pos < len(data):
        index, within = divmod(offset + pos, SECTOR)
        take = min(SECTOR - within, len(data) - pos)
        sector = bytearray(sectors.get(index, bytes(SECTOR)))
        sector[within:within + take] = data[pos:pos + take]
        sectors[index] = bytes(sector)
        pos += take


def read_sectors(sectors, offset, length):
    out = bytearray()
    pos = 0
    while pos < length:
        index, within = divmod(offset + pos, SECTOR)
        take = min(SECTOR - within, length - pos)
        sector = sectors.get(index)
        out.extend(sector[within:within + take] if sector else bytes(take))
        pos += take
    return bytes(out)


def _keyed(items, key):
    out = {}
    for item in items or ():
        out[item[key]] = item
    return out


class Appliance:
    """One simulated appliance: its state, the lock every request holds, and
    the queries and changes that several request families share."""

    # Space figures of a read-only listing, computed once (space_snapshot).
    _snapshot = None

    def __init__(self, fixture):
        self.lock = threading.RLock()
        self._startup = copy.deepcopy(fixture)
        self.load(fixture)

    # ----- fixture in and out -------------------------------------------------

    def load(self, fixture):
        with self.lock:
            self.s = self._normalise(copy.deepcopy(fixture))

    def reset(self):
        self.load(self._startup)

    def _normalise(self, f):
        s = {}
        self._load_system(s, f)
        self._load_storage(s, f)
        self._load_san(s, f)
        self._load_iscsi(s, f.get("iscsi", {}))
        s["files"] = {}
        for entry in f.get("files", ()):
            s["files"][entry["path"]] = {
                "data": entry.get("data", "").encode("utf-8"),
                "overwrite-reserved": entry.get("overwrite-reserved", False),
                "fill-reserved": entry.get("fill-reserved", False)}
        s["tandril"] = [dict(r) for r in f.get("tandril", ())]
        s["ems-events"] = list(f.get("ems-events", ()))
        return s

    @staticmethod
    def _load_system(s, f):
        s["auth"] = {"user": "root", "password": ""}
        s["auth"].update(f.get("auth", {}))
        s["version"] = f.get("version", "Zarvo Release 7.2.4: Thu Feb 12 03:11:09 PST 2009")
        s["clock"] = f.get("clock")
        s["system-info"] = dict(f.get("system-info", {}))
        s["cluster"] = {"enabled": False, "interconnect-up": False, "partner": ""}
        s["cluster"].update(f.get("cluster", {}))
        s["options"] = dict(f.get("options", {}))
        s["root-volume"] = f.get("root-volume", "vol0")
        s["quirks"] = {"missing-attribute-errno": E.E_NO_SUCH_ATTRIBUTE, "doctype": True,
                       "reply-version": "1.1", "check-namespace": True,
                       "break-unavailable-requests": 2, "chap-key-hex": None,
                       "inquiry": {"vendor-id": "KORVEX", "product-id": "LUN",
                                   "firmware-revision": "7240"}}
        s["quirks"].update(f.get("quirks", {}))
        s["counters"] = {"serial": 0, "uuid": 0}
        s["counters"].update(f.get("counters", {}))

    def _load_storage(self, s, f):
        s["disks"] = _keyed(f.get("disks"), "name")
        s["aggregates"] = _keyed(f.get("aggregates"), "name")
        for aggr in s["aggregates"].values():
            for key, value in (("state", "online"), ("type", "aggr"),
                               ("raid-status", "raid_dp, aggr"), ("raid-size", 16),
                               ("files-total", 31876696), ("files-used", 96),
                               ("size-reserved", 0), ("plexes", [])):
                aggr.setdefault(key, value)
            if "uuid" not in aggr:
                aggr["uuid"] = self._new_uuid(s, aggr["name"])
        s["volumes"] = _keyed(f.get("volumes"), "name")
        for vol in s["volumes"].values():
            self._volume_defaults(s, vol)
        s["luns"] = {}
        for lun in f.get("luns", ()):
            lun = dict(lun)
            lun["data"] = _sectors_from_fixture(lun.get("data"))
            self._lun_defaults(s, lun)
            s["luns"][lun["path"]] = lun
        for vol in s["volumes"].values():
            for snap in vol["snapshots"]:
                if snap["luns"] is None:
                    # A fixture snapshot that lists no LUNs holds the volume's LUNs as loaded.
                    snap["luns"] = self._freeze(s, vol["name"])

    @staticmethod
    def _load_san(s, f):
        s["igroups"] = _keyed(f.get("igroups"), "name")
        for ig in s["igroups"].values():
            ig.setdefault("type", "fcp")
            ig.setdefault("os-type", "windows")
            ig.setdefault("initiators", [])
        s["fcp"] = {"adapters": _keyed(f.get("fcp", {}).get("adapters"), "adapter")}
        for ad in s["fcp"]["adapters"].values():
            ad.setdefault("initiators", [])

    def _load_iscsi(self, s, iscsi):
        s["iscsi"] = {
            "service-available": iscsi.get("service-available", True),
            "node-name": iscsi.get("node-name", "iqn.1992-08.com.korvex:sn.0"),
            "alias": iscsi.get("alias", ""),
            "interfaces": _keyed(iscsi.get("interfaces"), "name"),
            "tpgroups": [dict(t) for t in iscsi.get("tpgroups", ())],
            "sessions": [dict(x) for x in iscsi.get("sessions", ())],
            "adapters": [dict(a) for a in iscsi.get("adapters", ())],
            "auth": {entry["initiator"]: self._auth_from_fixture(entry)
                     for entry in iscsi.get("auth", ())},
            "default-auth": self._auth_from_fixture(iscsi.get("default-auth", {"auth-type": "none"})),
        }

    @staticmethod
    def _auth_from_fixture(entry):
        return {"auth-type": entry.get("auth-type", "CHAP"),
                "user-name": entry.get("user-name", ""),
                "password": bytes.fromhex(entry.get("password-hex", "")),
                "outbound-user-name": entry.get("outbound-user-name", ""),
                "outbound-password": bytes.fromhex(entry.get("outbound-password-hex", ""))}

    @staticmethod
    def _auth_to_fixture(auth):
        return {"auth-type": auth["auth-type"], "user-name": auth["user-name"],
                "password-hex": auth["password"].hex(),
                "outbound-user-name": auth["outbound-user-name"],
                "outbound-password-hex": auth["outbound-password"].hex()}

    def _volume_defaults(self, s, vol):
        vol.setdefault("state", "online")
        vol.setdefault("space-reserve", "volume")
        vol.setdefault("snapshot-reserve-percent", 20)
        vol.setdefault("type", "flex")
        vol.setdefault("files-total", 6225917)
        vol.setdefault("files-used", 101)
        vol.setdefault("reserve-used", 0)
        vol.setdefault("clone-children", [])
        vol.setdefault("qtrees", [])
        vol.setdefault("snapshots", [])
        opts = {"nosnap": "off", "nosnapdir": "off", "minra": "off", "no_atime_update": "off",
                "nvfail": "off", "ignore_inconsistent": "off", "snapmirrored": "off",
                "create_ucode": "off", "convert_ucode": "off", "maxdirsize": "10470",
                "schedsnapname": "ordinal", "fs_size_fixed": "off",
                "guarantee": vol["space-reserve"], "svo_enable": "off",
                "svo_checksum": "off", "svo_allow_rman": "off", "svo_reject_errors": "off",
                "no_i2p": "off", "fractional_reserve": "100", "extent": "off",
                "try_first": "volume_grow", "read_realloc": "off", "snapshot_clone_dependency": "off"}
        opts.update(vol.get("options", {}))
        opts["guarantee"] = vol["space-reserve"]
        vol["options"] = opts
        vol.setdefault("snapshot-schedule", {"weeks": 0, "days": 2, "hours": 6, "minutes": 0,
                                             "which-hours": "8@12@16@20", "which-minutes": ""})
        vol.setdefault("autosize", {"is-enabled": "false", "increment-size": format_size(
            round_up(vol["size"] // 20, MIB)), "maximum-size": format_size(
            round_up(vol["size"] * 6 // 5, MIB))})
        vol.setdefault("snapshot-autodelete", [
            ["state", "off"], ["commitment", "try"], ["trigger", "volume"],
            ["target_free_space", "20"], ["delete_order", "oldest_first"],
            ["defer_delete", "user_created"], ["prefix", "(none)"]])
        for q in vol["qtrees"]:
            q.setdefault("security-style", "ntfs")
            q.setdefault("oplocks", "enabled")
            q.setdefault("status", "normal")
        for snap in vol["snapshots"]:
            self._snapshot_defaults(snap)
        if "uuid" not in vol:
            vol["uuid"] = self._new_uuid(s, vol["name"])

    @staticmethod
    def _snapshot_defaults(snap):
        snap.setdefault("access-time", 1234567890)
        snap.setdefault("busy", False)
        snap.setdefault("dependency", "")
        for key in ("cumulative-percentage-of-total-blocks", "cumulative-percentage-of-used-blocks",
                    "percentage-of-total-blocks", "percentage-of-used-blocks", "total",
                    "cumulative-total"):
            snap.setdefault(key, 0)
        snap.setdefault("files", {})
        if snap.get("luns") is None:
            snap["luns"] = None
            return
        luns = {}
        for path, frozen in snap["luns"].items():
            frozen = dict(frozen)
            if not isinstance(frozen.get("data"), dict):
                frozen["data"] = _sectors_from_fixture(frozen.get("data"))
            luns[path] = frozen
        snap["luns"] = luns

    def _lun_defaults(self, s, lun):
        lun.setdefault("type", "windows")
        lun.setdefault("online", True)
        lun.setdefault("read-only", False)
        lun.setdefault("share-state", "none")
        lun.setdefault("space-reservation", True)
        lun.setdefault("maps", {})
        lun.setdefault("attributes", {})
        lun.setdefault("backing-snapshot", "")
        lun.setdefault("geometry-max", min(max(lun["size"] * 10, lun["size"]), MAX_LUN_SIZE))
        lun.setdefault("restore-running", False)
        lun.setdefault("clone-status", None)
        lun.setdefault("clone-split-status", None)
        lun.setdefault("scsi-reservations", [])
        lun.setdefault("unavailable", 0)
        lun.setdefault("comment", "")
        if "serial-number" not in lun:
            lun["serial-number"] = self._new_serial(s)

    def export(self):
        """The current state in the fixture's form (JSON-ready)."""
        with self.lock:
            s = copy.deepcopy(self.s)
        f = {k: s[k] for k in ("auth", "version", "clock", "system-info", "cluster", "options",
                               "root-volume", "quirks", "counters", "tandril", "ems-events")}
        f["disks"] = list(s["disks"].values())
        f["aggregates"] = list(s["aggregates"].values())
        vols = []
        for vol in s["volumes"].values():
            for snap in vol["snapshots"]:
                for frozen in snap["luns"].values():
                    frozen["data"] = _sectors_to_fixture(frozen["data"])
            vols.append(vol)
        f["volumes"] = vols
        luns = []
        for lun in s["luns"].values():
            lun["data"] = _sectors_to_fixture(lun["data"])
            luns.append(lun)
        f["luns"] = luns
        f["igroups"] = list(s["igroups"].values())
        f["fcp"] = {"adapters": list(s["fcp"]["adapters"].values())}
        iscsi = s["iscsi"]
        f["iscsi"] = {
            "service-available": iscsi["service-available"], "node-name": iscsi["node-name"],
            "alias": iscsi["alias"], "interfaces": list(iscsi["interfaces"].values()),
            "tpgroups": iscsi["tpgroups"], "sessions": iscsi["sessions"],
            "adapters": iscsi["adapters"],
            "auth": [dict(self._auth_to_fixture(a), initiator=name)
                     for name, a in iscsi["auth"].items()],
            "default-auth": self._auth_to_fixture(iscsi["default-auth"])}
        f["files"] = [{"path": p, "data": e["data"].decode("utf-8", "replace"),
                       "overwrite-reserved": e["overwrite-reserved"],
                       "fill-reserved": e["fill-reserved"]} for p, e in s["files"].items()]
        return f

    # ----- identities -----------------------------------------------------------

    def now(self):
        return int(self.s["clock"]) if self.s["clock"] is not None else int(time.time())

    def system_name(self):
        return self.s["system-info"].get("system-name", "zarvo")

    def _new_uuid(self, s, name):
        s["counters"]["uuid"] += 1
        seed = "%s/%s/%d" % (s["system-info"].get("system-serial-number", ""), name,
                             s["counters"]["uuid"])
        return str(uuid.uuid5(uuid.NAMESPACE_URL, seed))

    def new_uuid(self, name):
        return self._new_uuid(self.s, name)

    _SERIAL_CHARS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-/"

    def _new_serial(self, s):
        s["counters"]["serial"] += 1
        seed = "%s:%d" % (s["system-info"].get("system-serial-number", ""), s["counters"]["serial"])
        digest = hashlib.sha256(seed.encode()).digest()
        return "".join(self._SERIAL_CHARS[b % len(self._SERIAL_CHARS)] for b in digest[:12])

    def new_serial(self):
        return self._new_serial(self.s)

    # ----- lookups ----------------------------------------------------------------

    def volume(self, name, online=False):
        vol = self.s["volumes"].get(name)
        if vol is None:
            raise ApiError(E.E_VOLUME_NOT_FOUND, "Volume %s does not exist" % name)
        if online and vol["state"] != "online":
            raise ApiError(E.E_VOLUME_OFFLINE, "Volume %s is not online" % name)
        return vol

    def aggregate(self, name):
        aggr = self.s["aggregates"].get(name)
        if aggr is None:
            raise ApiError(E.E_AGGR_NOT_FOUND, "Aggregate %s does not exist" % name)
        return aggr

    def igroup(self, name):
        ig = self.s["igroups"].get(name)
        if ig is None:
            raise ApiError(E.E_IGROUP_NOT_FOUND, "Initiator group %s does not exist" % name)
        return ig

    def split_lun_path(self, path):
        """(volume, qtree or "", name) of a "/vol/..." path, or the bad-path error."""
        parts = path.split("/")
        if len(parts) not in (4, 5) or parts[0] != "" or parts[1] != "vol" or not all(parts[2:]):
            raise ApiError(E.E_BAD_LUN_PATH, "Invalid path %s: expected /vol/<volume>/[<qtree>/]<name>"
                           % path)
        if len(parts) == 4:
            return parts[2], "", parts[3]
        return parts[2], parts[3], parts[4]

    def lun(self, path):
        """A LUN that the appliance can see: LUNs of offline volumes are hidden."""
        lun = self.s["luns"].get(path)
        if lun is None or self.s["volumes"].get(volume_name_of(path), {}).get("state") != "online":
            raise ApiError(E.E_NO_SUCH_LUN, "No such LUN exists")
        return lun

    def visible_luns(self):
        online = {n for n, v in self.s["volumes"].items() if v["state"] == "online"}
        return [lun for p, lun in self.s["luns"].items() if volume_name_of(p) in online]

    def qtree(self, vol, name):
        for q in vol["qtrees"]:
            if q["name"] == name:
                return q
        return None

    def volume_of_path(self, path):
        """The volume named by a "/vol/<volume>/..." path, online."""
        name = volume_name_of(path)
        if not name:
            raise ApiError(E.E_BAD_LUN_PATH, "Invalid path %s" % path)
        return self.volume(name, online=True)

    # ----- space ------------------------------------------------------------------

    @contextlib.contextmanager
    def space_snapshot(self):
        """For a listing that changes nothing: each volume's LUNs and files and
        each aggregate's use are found once, not once per volume listed (which
        grows with the cube of the volume count)."""
        luns, files = {}, {}
        for path, lun in self.s["luns"].items():
            luns.setdefault(volume_name_of(path), []).append(lun)
        for path, entry in self.s["files"].items():
            name = volume_name_of(path)
            files[name] = files.get(name, 0) + len(entry["data"])
        self._snapshot = {"luns": luns, "files": files, "aggregate-used": {}}
        try:
            yield
        finally:
            self._snapshot = None

    def _volume_luns(self, name):
        if self._snapshot is not None:
            return self._snapshot["luns"].get(name, [])
        prefix = "/vol/%s/" % name
        return [lun for path, lun in self.s["luns"].items() if path.startswith(prefix)]

    def _volume_file_bytes(self, name):
        if self._snapshot is not None:
            return self._snapshot["files"].get(name, 0)
        prefix = "/vol/%s/" % name
        return sum(len(e["data"]) for p, e in self.s["files"].items() if p.startswith(prefix))

    def volume_used(self, vol):
        used = self._volume_file_bytes(vol["name"]) + vol.get("used-extra", 0)
        for lun in self._volume_luns(vol["name"]):
            used += lun["size"] if lun["space-reservation"] else len(lun["data"]) * SECTOR
        return used

    def volume_footprint(self, vol):
        """What the volume takes from its aggregate under its space guarantee;
        an offline volume's guarantee is off."""
        if vol["state"] != "online":
            return 0
        if vol["space-reserve"] == "volume":
            return vol["size"]
        if vol["space-reserve"] == "file":
            return self.volume_used(vol)
        written = self._volume_file_bytes(vol["name"]) + vol.get("used-extra", 0)
        return written + sum(len(l["data"]) * SECTOR for l in self._volume_luns(vol["name"]))

    def volume_capacity(self, vol):
        return vol["size"] - vol["size"] * vol["snapshot-reserve-percent"] // 100

    def volume_available(self, vol):
        avail = max(0, self.volume_capacity(vol) - self.volume_used(vol))
        if vol["space-reserve"] != "volume" and vol.get("aggregate") in self.s["aggregates"]:
            avail = min(avail, self.aggregate_available(self.s["aggregates"][vol["aggregate"]]))
        return avail

    def aggregate_disks(self, aggr):
        names = []
        for plex in aggr["plexes"]:
            for rg in plex.get("raid-groups", ()):
                names.extend(rg.get("disks", ()))
        return names

    def aggregate_total(self, aggr):
        if "size-total" in aggr:
            return aggr["size-total"]
        data = 0
        for name in self.aggregate_disks(aggr):
            disk = self.s["disks"].get(name)
            if disk and disk.get("raid-type", "data") == "data":
                data += disk.get("used-space", 0)
        return data * (100 - WAFL_RESERVE_PERCENT) // 100 // BLOCK * BLOCK

    def aggregate_used(self, aggr):
        known = self._snapshot["aggregate-used"] if self._snapshot is not None else {}
        if aggr["name"] in known:
            return known[aggr["name"]]
        used = aggr["size-reserved"]
        for vol in self.s["volumes"].values():
            if vol.get("aggregate") == aggr["name"]:
                used += self.volume_footprint(vol)
        known[aggr["name"]] = used
        return used

    def aggregate_available(self, aggr):
        return max(0, self.aggregate_total(aggr) - self.aggregate_used(aggr))

    def need_space(self, vol, amount, what):
        """Refuse a change that needs `amount` more bytes than the volume or its
        aggregate has left."""
        if amount <= 0:
            return
        if amount > self.volume_available(vol):
            raise ApiError(E.ENOSPC, "No space left on device: %s needs %d bytes in volume %s"
                           % (what, amount, vol["name"]))

    # ----- LUN data -----------------------------------------------------------------

    def lun_read(self, lun, offset, length):
        return read_sectors(lun["data"], offset, length)

    def lun_write(self, lun, offset, data):
        write_sectors(lun["data"], offset, data)

    @staticmethod
    def _freeze(s, vol_name):
        prefix = "/vol/%s/" % vol_name
        return {path: {"size": lun["size"], "type": lun["type"], "data": dict(lun["data"])}
                for path, lun in s["luns"].items() if path.startswith(prefix)}

    def freeze_volume_luns(self, vol_name):
        """Copies of a volume's LUNs, as a snapshot keeps them."""
        return self._freeze(self.s, vol_name)

    def rename_prefix(self, old, new):
        """Move every LUN and file of volume `old` to volume `new`."""
        old_prefix, new_prefix = "/vol/%s/" % old, "/vol/%s/" % new
        for table in (self.s["luns"], self.s["files"]):
            moved = {}
            for path in list(table):
                if path.startswith(old_prefix):
                    moved[new_prefix + path[len(old_prefix):]] = table.pop(path)
            for path, entry in moved.items():
                if table is self.s["luns"]:
                    entry["path"] = path
                table[path] = entry

    def drop_prefix(self, name):
        prefix = "/vol/%s/" % name
        for table in (self.s["luns"], self.s["files"]):
            for path in [p for p in table if p.startswith(prefix)]:
                del table[path]
