"""The simulated host: its adapters, its disks, and what a rescan does."""

import base64
import dataclasses
import json
import os
import re
import sys
import urllib.error
import urllib.parse
import urllib.request

from .tree import Tree, disk_name

QUERY_TIMEOUT = 2.0
HOST_RE = re.compile(r"host(\d+)$")


@dataclasses.dataclass
class Adapter:
    host: int
    kind: str            # "fc" or "iscsi"
    driver: str
    initiator: str       # the name the appliances map LUNs to
    port_wwn: str = ""
    node_wwn: str = ""

    @property
    def protocol(self):
        return "fcp" if self.kind == "fc" else "iscsi"


@dataclasses.dataclass
class Disk:
    name: str
    host: int
    target: int
    lun: int
    appliance: str
    path: str
    serial: str
    size: int
    read_only: bool
    vendor: str
    product: str
    revision: str
    leading_data: bytes

    @property
    def address(self):
        return "%d:0:%d:%d" % (self.host, self.target, self.lun)

    def summary(self):
        fields = dataclasses.asdict(self)
        del fields["leading_data"]
        fields["address"] = self.address
        return fields


def colon_wwn(text):
    """"210000e08b050504" → "21:00:00:e0:8b:05:05:04", as appliances list initiators."""
    digits = text.lower().replace(":", "")
    return ":".join(digits[i:i + 2] for i in range(0, len(digits), 2))


def read_initiator_name(path):
    """The InitiatorName= line of an open-iscsi initiator name file, or ""."""
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                line = line.strip()
                if line.startswith("InitiatorName="):
                    return line[len("InitiatorName="):].strip()
    except OSError:
        pass
    return ""


def adapters_from(hba_fixture, initiator_name):
    """One adapter per port of the HBA fixture, numbered as its OS device name
    says (the next free number when it names none), then the iSCSI software
    initiator on the lowest free number."""
    adapters, used = [], set()
    ports = [p for a in (hba_fixture or {}).get("adapters", []) for p in a.get("ports", [])]
    wanted = []
    for port in ports:
        match = HOST_RE.search(port.get("os_device_name", ""))
        wanted.append(int(match.group(1)) if match else None)
    used = {n for n in wanted if n is not None}

    def next_free():
        n = 0
        while n in used:
            n += 1
        used.add(n)
        return n

    for port, number in zip(ports, wanted):
        adapters.append(Adapter(host=number if number is not None else next_free(), kind="fc",
                                driver="qla2xxx", initiator=colon_wwn(port.get("port_wwn", "")),
                                port_wwn=port.get("port_wwn", "").lower(),
                                node_wwn=port.get("node_wwn", "").lower()))
    adapters.append(Adapter(host=next_free(), kind="iscsi", driver="iscsi_tcp", initiator=initiator_name))
    return adapters


def query_appliance(address, adapter):
    """The LUNs the appliance shows this adapter's initiator, or None when it
    cannot be asked."""
    query = urllib.parse.urlencode({"protocol": adapter.protocol, "initiator": adapter.initiator})
    try:
        with urllib.request.urlopen("http://%s/sim/scsi?%s" % (address, query), timeout=QUERY_TIMEOUT) as reply:
            return json.loads(reply.read())["luns"]
    except (OSError, ValueError, KeyError, urllib.error.URLError):
        return None


class Host:
    def __init__(self, root, adapters, appliances, out=sys.stdout):
        self.root = root
        self.tree = Tree(root)
        self.adapters = adapters
        self.appliances = appliances      # "address[:port]", target number = index
        self.disks = {}                   # (host, target, lun) → Disk
        self.scans = {a.host: 0 for a in adapters}
        self.unreachable = set()
        self.out = out
        self.scan_files = {a.host: self.tree.add_adapter(a) for a in adapters}
        self.write_status()

    # ----- rescans ----------------------------------------------------------------

    def poll(self):
        """Takes the rescans asked since the last look: a non-empty scan file
        is emptied first, then served, so a write that comes meanwhile is seen
        at the next look and none is lost."""
        for adapter in self.adapters:
            scan = self.scan_files[adapter.host]
            try:
                if os.stat(scan).st_size == 0:
                    continue
                os.truncate(scan, 0)
            except FileNotFoundError:
                continue
            self.rescan(adapter)

    def rescan(self, adapter):
        for target, address in enumerate(self.appliances):
            luns = query_appliance(address, adapter)
            if luns is None:
                # Unreachable: its disks stay as they were, as on a host whose
                # paths to the appliance are down.
                if address not in self.unreachable:
                    self.say("host%d: appliance %s unreachable, its disks kept" % (adapter.host, address))
                self.unreachable.add(address)
                continue
            self.unreachable.discard(address)
            self.reconcile(adapter, target, address, luns)
        self.scans[adapter.host] += 1
        self.write_status()

    def reconcile(self, adapter, target, address, luns):
        shown = {int(lun["lun-id"]): lun for lun in luns}
        for key, disk in list(self.disks.items()):
            if key[:2] != (adapter.host, target):
                continue
            lun = shown.get(key[2])
            if lun is None or lun["serial-number"] != disk.serial:
                self.tree.remove_disk(disk)
                del self.disks[key]
                self.say("host%d: %s gone (serial %s, %s)" % (adapter.host, disk.name, disk.serial, disk.path))
        for lun_id, lun in sorted(shown.items()):
            key = (adapter.host, target, lun_id)
            disk = self.disks.get(key)
            fresh = self.disk_of(lun, disk.name if disk else self.free_name(), adapter, target, address)
            if disk is None:
                self.tree.add_disk(fresh)
                self.say("host%d: %s appeared (serial %s, %s on %s, %d bytes)"
                         % (adapter.host, fresh.name, fresh.serial, fresh.path, address, fresh.size))
            elif fresh != disk:
                self.tree.update_disk(fresh)
                if fresh.size != disk.size:
                    self.say("host%d: %s now %d bytes" % (adapter.host, fresh.name, fresh.size))
            self.disks[key] = fresh

    @staticmethod
    def disk_of(lun, name, adapter, target, address):
        return Disk(name=name, host=adapter.host, target=target, lun=int(lun["lun-id"]), appliance=address,
                    path=lun["path"], serial=lun["serial-number"], size=int(lun["size"]),
                    read_only=bool(lun["read-only"]), vendor=lun["vendor-id"], product=lun["product-id"],
                    revision=lun["firmware-revision"], leading_data=base64.b64decode(lun["leading-data"]))

    def free_name(self):
        taken = {d.name for d in self.disks.values()}
        index = 0
        while disk_name(index) in taken:
            index += 1
        return disk_name(index)

    # ----- reporting ----------------------------------------------------------------

    def say(self, text):
        print("host-sim: " + text, file=self.out, flush=True)

    def write_status(self):
        """host.json: adapters, rescans served per adapter and the disks, for
        tests and the demo; replaced whole, so a reader never sees a part."""
        status = {
            "sysfs-root": self.tree.sys,
            "adapters": [dataclasses.asdict(a) for a in self.adapters],
            "scans": {"host%d" % h: n for h, n in sorted(self.scans.items())},
            "unreachable": sorted(self.unreachable),
            "disks": [d.summary() for _, d in sorted(self.disks.items())],
        }
        path = os.path.join(self.root, "host.json")
        with open(path + ".tmp", "w", encoding="utf-8") as f:
            json.dump(status, f, indent=1)
        os.replace(path + ".tmp", path)
