"""The host's sysfs tree: SCSI adapters and disks laid out as Linux shows
them (devices under devices/, class/ and block/ entries as symlinks into it),
and each disk's leading bytes under dev/."""

import os
import shutil
import struct

PLATFORM = os.path.join("devices", "platform", "host-sim")
SECTOR = 512


def disk_name(index):
    """sda … sdz, sdaa … sdzz, sdaaa …: the kernel's order of disk names."""
    letters = ""
    index += 1
    while index > 0:
        index, rest = divmod(index - 1, 26)
        letters = chr(ord("a") + rest) + letters
    return "sd" + letters


def _padded(text, width):
    return text.encode("ascii", "replace")[:width].ljust(width)


def standard_inquiry(vendor, product, revision):
    """Direct-access device, SPC-3, 36 bytes."""
    return (bytes([0, 0, 5, 2, 31, 0, 0, 0]) + _padded(vendor, 8) + _padded(product, 16)
            + _padded(revision, 4))


def serial_page(serial):
    data = serial.encode("ascii", "replace")[:251]
    return bytes([0, 0x80, 0, len(data)]) + data


def identification_page(vendor, serial):
    """One T10 vendor-id designator (ASCII): vendor, then the serial number."""
    designator = _padded(vendor, 8) + serial.encode("ascii", "replace")[:200]
    return (bytes([0, 0x83]) + struct.pack(">H", 4 + len(designator))
            + bytes([0x02, 0x01, 0, len(designator)]) + designator)


def _write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


def _link(target, link):
    """A relative symlink at link to target (both absolute)."""
    os.makedirs(os.path.dirname(link), exist_ok=True)
    os.symlink(os.path.relpath(target, os.path.dirname(link)), link)


def _unlink(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


class Tree:
    def __init__(self, root):
        self.root = root
        self.sys = os.path.join(root, "sys")
        self.dev = os.path.join(root, "dev")
        for path in (self.sys, self.dev):
            shutil.rmtree(path, ignore_errors=True)
            os.makedirs(path)
        for sub in ("block", "class/scsi_host", "class/scsi_device", "class/block", "class/fc_host",
                    "class/iscsi_host"):
            os.makedirs(os.path.join(self.sys, sub))

    def _host_dir(self, host):
        return os.path.join(self.sys, PLATFORM, "host%d" % host)

    def add_adapter(self, adapter):
        """An adapter's scsi_host entry (with its scan file) and its transport
        entry: fc_host with the port names, or iscsi_host with the initiator
        name. Returns the scan file's path."""
        host = adapter.host
        name = "host%d" % host
        scsi_host = os.path.join(self._host_dir(host), "scsi_host", name)
        scan = os.path.join(scsi_host, "scan")
        _write(scan, b"")
        _write(os.path.join(scsi_host, "proc_name"), adapter.driver + "\n")
        _link(scsi_host, os.path.join(self.sys, "class", "scsi_host", name))
        transport = os.path.join(self._host_dir(host), adapter.kind + "_host", name)
        if adapter.kind == "fc":
            _write(os.path.join(transport, "port_name"), "0x%s\n" % adapter.port_wwn)
            _write(os.path.join(transport, "node_name"), "0x%s\n" % adapter.node_wwn)
            _write(os.path.join(transport, "port_state"), "Online\n")
        else:
            _write(os.path.join(transport, "initiatorname"), adapter.initiator + "\n")
        _link(transport, os.path.join(self.sys, "class", adapter.kind + "_host", name))
        return scan

    def _unit_dir(self, disk):
        return os.path.join(self._host_dir(disk.host), "target%d:0:%d" % (disk.host, disk.target), disk.address)

    def add_disk(self, disk):
        """Builds the whole device first and makes it visible last, through its
        class/scsi_device link, so a reader never sees half a disk."""
        unit = self._unit_dir(disk)
        self.update_disk(disk)
        _write(os.path.join(unit, "type"), "0\n")
        _write(os.path.join(unit, "state"), "running\n")
        block = os.path.join(unit, "block", disk.name)
        _link(unit, os.path.join(block, "device"))
        _link(block, os.path.join(self.sys, "block", disk.name))
        _link(block, os.path.join(self.sys, "class", "block", disk.name))
        scsi_device = os.path.join(unit, "scsi_device", disk.address)
        _link(unit, os.path.join(scsi_device, "device"))
        _link(scsi_device, os.path.join(self.sys, "class", "scsi_device", disk.address))

    def update_disk(self, disk):
        """Identification, size and data as the appliance reports them now."""
        unit = self._unit_dir(disk)
        _write(os.path.join(unit, "vendor"), _padded(disk.vendor, 8).decode() + "\n")
        _write(os.path.join(unit, "model"), _padded(disk.product, 16).decode() + "\n")
        _write(os.path.join(unit, "rev"), _padded(disk.revision, 4).decode() + "\n")
        _write(os.path.join(unit, "inquiry"), standard_inquiry(disk.vendor, disk.product, disk.revision))
        _write(os.path.join(unit, "vpd_pg80"), serial_page(disk.serial))
        _write(os.path.join(unit, "vpd_pg83"), identification_page(disk.vendor, disk.serial))
        block = os.path.join(unit, "block", disk.name)
        _write(os.path.join(block, "size"), "%d\n" % (disk.size // SECTOR))
        _write(os.path.join(block, "ro"), "%d\n" % disk.read_only)
        _write(os.path.join(block, "removable"), "0\n")
        _write(os.path.join(self.dev, disk.name), disk.leading_data)

    def remove_disk(self, disk):
        """The reverse of add_disk: invisible first, then gone."""
        _unlink(os.path.join(self.sys, "class", "scsi_device", disk.address))
        _unlink(os.path.join(self.sys, "block", disk.name))
        _unlink(os.path.join(self.sys, "class", "block", disk.name))
        _unlink(os.path.join(self.dev, disk.name))
        shutil.rmtree(self._unit_dir(disk), ignore_errors=True)
