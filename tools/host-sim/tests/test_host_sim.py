"""The simulated host against a simulated appliance in this process: what a
rescan makes of the appliance's maps, as the provider and vdsctl read it."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SIM_ROOT = os.path.join(os.path.dirname(ROOT), "appliance-sim")
sys.path.insert(0, ROOT)
sys.path.insert(0, SIM_ROOT)

from appliance_sim.main import load_fixture  # noqa: E402
from appliance_sim.server import SimServer  # noqa: E402
from appliance_sim.state import Appliance  # noqa: E402
from host_sim.host import Host, adapters_from  # noqa: E402
from host_sim.tree import disk_name  # noqa: E402

HBA = {"adapters": [{"ports": [
    {"port_wwn": "210000e08b050504", "node_wwn": "200000e08b050504",
     "os_device_name": "/sys/class/scsi_host/host0"},
    {"port_wwn": "210000e08b050505", "node_wwn": "200000e08b050505",
     "os_device_name": "/sys/class/scsi_host/host1"}]}]}
ISCSI_NAME = "iqn.1994-05.com.example:host-sim"
OURS, OTHERS = "21:00:00:e0:8b:05:05:04", "10:00:00:00:c9:6b:3d:1a"


class Quiet:
    def write(self, _):
        pass

    def flush(self):
        pass


class HostTest(unittest.TestCase):
    def setUp(self):
        fixture = load_fixture(None, "default.json")
        fixture["igroups"].append({"name": "ours", "type": "fcp", "os-type": "windows",
                                   "initiators": [OURS]})
        fixture["igroups"].append({"name": "ours-iscsi", "type": "iscsi", "os-type": "windows",
                                   "initiators": [ISCSI_NAME]})
        self.app = Appliance(fixture)
        self.server = SimServer(self.app, "127.0.0.1", 0)
        self.server.start()
        self.address = "127.0.0.1:%d" % self.server.server_address[1]
        self.dir = tempfile.mkdtemp(prefix="host-sim-test-")
        self.host = Host(self.dir, adapters_from(HBA, ISCSI_NAME), [self.address], out=Quiet())
        self.sys = os.path.join(self.dir, "sys")

    def tearDown(self):
        if not self.server.stopped.is_set():
            self.server.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def map(self, path, group, lun_id):
        with self.app.lock:
            self.app.s["luns"][path]["maps"][group] = lun_id

    def scan(self, host):
        """Writes the scan file as the provider does, then lets the host look."""
        with open(os.path.join(self.sys, "class/scsi_host/host%d/scan" % host), "w") as f:
            f.write("- - -")
        self.host.poll()

    def status(self):
        with open(os.path.join(self.dir, "host.json")) as f:
            return json.load(f)

    def read(self, *parts, mode="r"):
        with open(os.path.join(self.sys, *parts), mode) as f:
            return f.read()

    def test_adapters_follow_the_hba_fixture_and_the_iscsi_initiator(self):
        self.assertTrue(os.path.isdir(os.path.join(self.sys, "class/fc_host/host0")))
        self.assertEqual("0x210000e08b050505\n", self.read("class/fc_host/host1/port_name"))
        self.assertEqual(ISCSI_NAME + "\n", self.read("class/iscsi_host/host2/initiatorname"))
        # A fixture port naming no host, or one already taken, gets the lowest free number.
        numbered = adapters_from({"adapters": [{"ports": [{"os_device_name": "/sys/class/scsi_host/host3"},
                                                          {"port_wwn": "1"}]}]}, "")
        self.assertEqual([(3, "fc"), (0, "fc"), (1, "iscsi")], [(a.host, a.kind) for a in numbered])

    def test_a_lun_mapped_to_the_host_becomes_a_disk_with_its_identification(self):
        self.map("/vol/vol1/q1/lun0", "ours", 4)
        self.assertEqual([], os.listdir(os.path.join(self.sys, "class/scsi_device")))
        self.scan(0)
        self.assertEqual(["0:0:0:4"], os.listdir(os.path.join(self.sys, "class/scsi_device")))
        unit = os.path.join("class/scsi_device/0:0:0:4/device")
        inquiry = self.read(unit, "inquiry", mode="rb")
        self.assertEqual((0, b"KORVEX  ", b"LUN             ", b"7240"),
                         (inquiry[0], inquiry[8:16], inquiry[16:32], inquiry[32:36]))
        self.assertTrue(os.path.isdir(os.path.join(self.sys, unit, "block/sda")))
        # vdsctl's road to the same unit: block/<disk>/device.
        self.assertEqual(b"\x00\x80\x00\x0cHnS4cJ4Kx8iB", self.read("block/sda/device/vpd_pg80", mode="rb"))
        self.assertEqual("KORVEX  \n", self.read("block/sda/device/vendor"))
        self.assertEqual("%d\n" % (21474836480 // 512), self.read("block/sda/size"))
        # Its data is the LUN's: the signature the fixture holds at byte 440.
        with open(os.path.join(self.dir, "dev/sda"), "rb") as f:
            self.assertEqual(bytes.fromhex("4d3c2b1a"), f.read()[440:444])
        self.assertEqual({"host0": 1, "host1": 0, "host2": 0}, self.status()["scans"])

    def test_only_the_rescanned_adapter_changes_and_only_for_its_own_initiator(self):
        self.map("/vol/vol2/db_lun", "ours-iscsi", 0)
        self.map("/vol/vol1/q1/lun1", "ours", 1)
        self.scan(1)          # the LUN is mapped to host0's port, not host1's
        self.assertEqual([], self.status()["disks"])
        self.scan(2)
        self.assertEqual([("2:0:0:0", "P3OoG4bN8qYz")],
                         [(d["address"], d["serial"]) for d in self.status()["disks"]])
        # The fixture's LUNs mapped to another host's ports never show here.
        self.scan(0)
        self.assertEqual(["HnS4cJ4Kx8iC", "P3OoG4bN8qYz"], sorted(d["serial"] for d in self.status()["disks"]))
        self.assertNotIn(OTHERS, [a["initiator"] for a in self.status()["adapters"]])

    def test_unmapped_offline_and_destroyed_luns_vanish_and_a_grown_lun_grows(self):
        for path, lun_id in (("/vol/vol1/q1/lun0", 0), ("/vol/vol1/q1/lun1", 1), ("/vol/vol2/db_lun", 2)):
            self.map(path, "ours", lun_id)
        self.scan(0)
        self.assertEqual(["sda", "sdb", "sdc"], sorted(os.listdir(os.path.join(self.sys, "block"))))
        with self.app.lock:
            del self.app.s["luns"]["/vol/vol1/q1/lun0"]["maps"]["ours"]
            self.app.s["luns"]["/vol/vol1/q1/lun1"]["online"] = False
            self.app.s["luns"]["/vol/vol2/db_lun"]["size"] *= 2
        self.scan(0)
        self.assertEqual(["sdc"], os.listdir(os.path.join(self.sys, "block")))
        self.assertEqual(["0:0:0:2"], os.listdir(os.path.join(self.sys, "class/scsi_device")))
        self.assertEqual("%d\n" % (2 * 53687091200 // 512), self.read("block/sdc/size"))
        self.assertFalse(os.path.exists(os.path.join(self.dir, "dev/sda")))
        # The freed name goes to the next new disk, as the kernel does.
        self.map("/vol/vol1/q1/lun0", "ours", 0)
        self.scan(0)
        self.assertEqual(["sda", "sdc"], sorted(os.listdir(os.path.join(self.sys, "block"))))

    def test_a_rescan_while_the_appliance_is_unreachable_keeps_the_disks(self):
        self.map("/vol/vol1/q1/lun0", "ours", 0)
        self.scan(0)
        self.server.stop()
        self.scan(0)
        status = self.status()
        self.assertEqual(["HnS4cJ4Kx8iB"], [d["serial"] for d in status["disks"]])
        self.assertEqual([self.address], status["unreachable"])
        self.assertEqual(2, status["scans"]["host0"])

    def test_a_scan_written_while_one_is_served_is_not_lost(self):
        scan = os.path.join(self.sys, "class/scsi_host/host0/scan")
        self.map("/vol/vol1/q1/lun0", "ours", 0)
        real_rescan = self.host.rescan

        def rescan_with_a_write_meanwhile(adapter):
            real_rescan(adapter)
            if self.status()["scans"]["host0"] == 1:
                with open(scan, "w") as f:
                    f.write("- - -")
        self.host.rescan = rescan_with_a_write_meanwhile
        self.scan(0)
        self.host.poll()
        self.assertEqual(2, self.status()["scans"]["host0"])
        self.host.poll()
        self.assertEqual(2, self.status()["scans"]["host0"])

    def test_disk_names_run_as_the_kernels(self):
        self.assertEqual(["sda", "sdz", "sdaa", "sdaz", "sdba", "sdzz", "sdaaa"],
                         [disk_name(i) for i in (0, 25, 26, 51, 52, 701, 702)])


class ProgramTest(unittest.TestCase):
    def test_the_program_serves_rescans_within_a_poll(self):
        fixture = load_fixture(None, "default.json")
        fixture["igroups"].append({"name": "ours", "type": "fcp", "os-type": "windows", "initiators": [OURS]})
        fixture["luns"][0]["maps"]["ours"] = 0
        app = Appliance(fixture)
        server = SimServer(app, "127.0.0.1", 0)
        server.start()
        directory = tempfile.mkdtemp(prefix="host-sim-program-")
        ready = os.path.join(directory, "ready")
        process = subprocess.Popen([sys.executable, os.path.join(ROOT, "host-sim"), "--root", directory,
                                    "--appliance", "127.0.0.1:%d" % server.server_address[1],
                                    "--ready-file", ready], stdout=subprocess.DEVNULL)
        try:
            until = time.monotonic() + 20
            while not os.path.exists(ready) and time.monotonic() < until:
                time.sleep(0.02)
            with open(ready) as f:
                sys_root = f.read().strip()
            # The boot-time scan found the LUN already mapped.
            self.assertTrue(os.path.exists(os.path.join(sys_root, "block/sda")))
            with app.lock:
                app.s["luns"]["/vol/vol1/q1/lun0"]["online"] = False
            with open(os.path.join(sys_root, "class/scsi_host/host0/scan"), "w") as f:
                f.write("- - -")
            started = time.monotonic()
            while os.path.exists(os.path.join(sys_root, "block/sda")) and time.monotonic() - started < 5:
                time.sleep(0.005)
            self.assertLess(time.monotonic() - started, 1.0)
        finally:
            process.terminate()
            process.wait(10)
            server.stop()
            shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
