"""Tests of the simulated appliance over its sockets, as the client and the
end-to-end tests see it."""

import base64
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, ROOT)

from appliance_sim import iscsi, xmlio  # noqa: E402
from appliance_sim import main as sim_main  # noqa: E402
from appliance_sim.main import load_fixture  # noqa: E402
from appliance_sim.server import API_PATH, SimServer  # noqa: E402
from appliance_sim.state import Appliance  # noqa: E402

HOST = "127.0.0.1"
USER, PASSWORD = "root", "zarvo123"
XMLNS = "http://www.korvex.com/filer/admin"


def request_bytes(port, body, user=USER, password=PASSWORD, path=API_PATH):
    """A request exactly as the client writes it."""
    head = "POST %s HTTP/1.1\r\n" % path
    if user is not None:
        token = base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
        head += "Authorization: Basic %s\r\n" % token
    head += "Host: %s:%u\r\nContent-Length: %u\r\n\r\n" % (HOST, port, len(body))
    return head.encode() + body


def document(name, children=""):
    inner = "<%s>%s</%s>" % (name, children, name) if children else "<%s/>" % name
    return ("<?xml version='1.0' encoding='utf-8' ?>\n"
            "<!DOCTYPE korvex SYSTEM 'file:/etc/korvex_filer.dtd'>\n"
            "<korvex xmlns=\"%s\" version=\"1.0\">%s</korvex>" % (XMLNS, inner)).encode()


def kids(**values):
    return "".join("<%s>%s</%s>" % (k.replace("_", "-"), v, k.replace("_", "-"))
                   for k, v in values.items())


class Reply:
    def __init__(self, raw):
        self.raw = raw
        head, _, body = raw.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.status = int(lines[0].split()[1]) if lines[0] else None
        self.headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers[name.strip().lower()] = value.strip()
        if self.headers.get("transfer-encoding") == "chunked":
            body = self._dechunk(body)
        self.body = body

    @staticmethod
    def _dechunk(data):
        out = b""
        while True:
            size_line, _, data = data.partition(b"\r\n")
            size = int(size_line, 16)
            if size == 0:
                return out
            out += data[:size]
            data = data[size + 2:]

    def results(self):
        root = xmlio.parse(self.body)
        assert root.name == "korvex" and len(root.children) == 1, self.body
        return root.children[0]


def exchange_raw(port, data, timeout=10):
    with socket.create_connection((HOST, port), timeout=timeout) as sock:
        sock.sendall(data)
        out = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                return out
            out += chunk


class SimTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.logdir = tempfile.TemporaryDirectory()
        cls.logfile = os.path.join(cls.logdir.name, "requests.log")
        cls.server = SimServer(Appliance(load_fixture(None, "default.json")), HOST, 0, cls.logfile)
        cls.server.start()
        cls.port = cls.server.server_address[1]

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.logdir.cleanup()

    def setUp(self):
        self.control("POST", "/sim/reset", {})

    def control(self, method, path, body=None, raw=False):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request("http://%s:%d%s" % (HOST, self.port, path), data=data,
                                     method=method)
        with urllib.request.urlopen(req, timeout=10) as reply:
            payload = reply.read()
        return payload if raw else json.loads(payload)

    def call(self, name, children=""):
        reply = Reply(exchange_raw(self.port, request_bytes(self.port, document(name, children))))
        self.assertEqual(reply.status, 200, reply.raw)
        return reply.results()

    def passed(self, name, /, **values):
        results = self.call(name, kids(**values))
        self.assertEqual(dict(results.attrs).get("status"), "passed",
                         "%s: %s" % (name, dict(results.attrs)))
        return results

    def errno(self, name, /, **values):
        attrs = dict(self.call(name, kids(**values)).attrs)
        self.assertEqual(attrs["status"], "failed")
        return int(attrs["errno"])

    def state(self):
        return self.control("GET", "/sim/state")


def text(elem, *path):
    for name in path:
        elem = elem.find(name)
    return elem.text or ""


class ProtocolTest(SimTestCase):
    def test_reply_is_one_compact_results_element_in_a_korvex_document(self):
        raw = exchange_raw(self.port, request_bytes(self.port, document("system-get-version")))
        reply = Reply(raw)
        self.assertEqual(raw.split(b"\r\n")[0], b"HTTP/1.1 200 OK")
        self.assertEqual(int(reply.headers["content-length"]), len(reply.body))
        self.assertTrue(reply.body.startswith(b"<?xml version='1.0' encoding='UTF-8' ?>\n"))
        root = xmlio.parse(reply.body)
        self.assertEqual(dict(root.attrs)["xmlns"], XMLNS)
        results = reply.results()
        self.assertEqual((results.name, results.attrs), ("results", [("status", "passed")]))
        self.assertIsNone(results.text, "no whitespace between reply elements")
        self.assertEqual(text(results, "version"), "Zarvo Release 7.2.4: Thu Feb 12 03:11:09 PST 2009")

    def test_unknown_api_fails_as_the_appliance_does(self):
        attrs = dict(self.call("no-such-api").attrs)
        self.assertEqual(attrs, {"status": "failed", "reason": "Unable to find API: no-such-api",
                                 "errno": "13005"})

    def test_reason_with_markup_characters_is_escaped(self):
        reason = dict(self.call("options-get", kids(name="a&lt;b&quot;")).attrs)["reason"]
        self.assertEqual(reason, 'No such option: a<b"')

    def test_unusable_requests(self):
        cases = [
            ("wrong path", request_bytes(self.port, document("system-get-version"), path="/x"), 404, None),
            ("wrong root", request_bytes(self.port, b"<filer><system-get-version/></filer>"), 200, 13001),
            ("two requests", request_bytes(self.port, b'<korvex xmlns="%s"><a/><b/></korvex>'
                                           % XMLNS.encode()), 200, 13001),
            ("entity declaration", request_bytes(self.port, b'<!DOCTYPE korvex [<!ENTITY e "x">]>'
                                                 b'<korvex xmlns="%s"><a>&e;</a></korvex>'
                                                 % XMLNS.encode()), 200, 13001),
            ("no length", b"POST %s HTTP/1.1\r\nHost: x:80\r\n\r\n" % API_PATH.encode(), 411, None),
        ]
        for label, data, status, errno in cases:
            with self.subTest(label):
                reply = Reply(exchange_raw(self.port, data))
                self.assertEqual(reply.status, status)
                if errno is not None:
                    self.assertEqual(dict(reply.results().attrs)["errno"], str(errno))

    def test_authorization(self):
        cases = [("right password", USER, PASSWORD, 200), ("wrong password", USER, "nope", 401),
                 ("other user", "admin", PASSWORD, 401), ("no header", None, None, 401)]
        for label, user, password, status in cases:
            with self.subTest(label):
                reply = Reply(exchange_raw(self.port, request_bytes(
                    self.port, document("system-get-info"), user, password)))
                self.assertEqual(reply.status, status)
                if status == 401:
                    self.assertEqual(reply.headers["www-authenticate"], 'Basic realm="Zarvo"')
        self.control("POST", "/sim/set", {"auth/password": ""})
        reply = Reply(exchange_raw(self.port, request_bytes(self.port, document("system-get-info"),
                                                            USER, "")))
        self.assertEqual(reply.status, 200, "a user without password logs in as 'user:'")

    def test_request_bytes_are_logged_exactly(self):
        self.control("POST", "/sim/log/clear")
        data = request_bytes(self.port, document("lun-get-serial-number",
                                                 kids(path="/vol/vol1/q1/lun0")))
        answer = exchange_raw(self.port, data)
        self.assertEqual(self.control("GET", "/sim/log/last", raw=True), data)
        self.assertEqual(self.control("GET", "/sim/log")[-1]["reply-bytes"], len(answer))
        body = self.control("GET", "/sim/log/last?part=body", raw=True)
        self.assertEqual(body, data[data.index(b"\r\n\r\n") + 4:])
        entry = self.control("GET", "/sim/log")[-1]
        self.assertEqual((entry["request"], entry["status"]), ("lun-get-serial-number", "passed"))
        with open(self.logfile, "rb") as f:
            self.assertIn(data, f.read())
        self.control("POST", "/sim/log/clear")
        self.assertEqual(self.control("GET", "/sim/log"), [])


class FaultTest(SimTestCase):
    def fault(self, **desc):
        self.control("POST", "/sim/faults", desc)

    def test_replacing_faults(self):
        data = request_bytes(self.port, document("system-get-version"))
        cases = [
            ({"kind": "status", "status": 500}, lambda r: r.status == 500),
            ({"kind": "drop"}, lambda r: r.raw == b""),
            ({"kind": "empty"}, lambda r: r.status == 200 and r.body == b""
             and r.headers["content-length"] == "0"),
            ({"kind": "malformed"}, lambda r: r.status == 200 and b"<unclosed>" in r.body),
            ({"kind": "errno", "errno": 9017, "reason": "gone"},
             lambda r: dict(r.results().attrs) == {"status": "failed", "reason": "gone",
                                                   "errno": "9017"}),
            ({"kind": "chunked", "chunk_size": 7},
             lambda r: r.headers["transfer-encoding"] == "chunked"
             and text(r.results(), "version").startswith("Zarvo Release")),
            ({"kind": "no-length"}, lambda r: "content-length" not in r.headers
             and r.results().name == "results"),
        ]
        for desc, check in cases:
            with self.subTest(desc["kind"]):
                self.fault(**desc)
                reply = Reply(exchange_raw(self.port, data))
                self.assertTrue(check(reply), reply.raw[:300])
                self.assertEqual(Reply(exchange_raw(self.port, data)).status, 200, "used once")

    def test_zero_length_reply_keeps_the_connection_open(self):
        self.fault(kind="zero-length-keepalive", hold=5)
        with socket.create_connection((HOST, self.port), timeout=10) as sock:
            sock.sendall(request_bytes(self.port, document("system-get-version")))
            head = b""
            while b"\r\n\r\n" not in head:
                head += sock.recv(4096)
            self.assertIn(b"Content-Length: 0\r\n", head)
            self.assertNotIn(b"Connection: close", head)
            sock.settimeout(0.3)
            with self.assertRaises(socket.timeout):
                sock.recv(1)

    def test_named_fault_waits_for_its_request_and_skips_and_counts(self):
        self.fault(kind="errno", request="lun-list-info", errno=13011, reason="x", skip=1, count=2)
        self.passed("system-get-version")
        self.passed("lun-list-info")
        self.assertEqual(self.errno("lun-list-info"), 13011)
        self.assertEqual(self.errno("lun-list-info"), 13011)
        self.passed("lun-list-info")

    def test_delay_holds_the_answer(self):
        self.fault(kind="delay", delay=0.4)
        start = time.monotonic()
        self.passed("system-get-version")
        self.assertGreaterEqual(time.monotonic() - start, 0.4)


class StateTest(SimTestCase):
    def test_release_text_and_cluster_partner_come_from_the_state(self):
        self.control("POST", "/sim/set", {"version": "NetRel Release R7.0.1R1: Mon", "cluster/partner":
                                          "127.0.0.9"})
        self.assertEqual(text(self.passed("system-get-version"), "version"),
                         "NetRel Release R7.0.1R1: Mon")
        self.assertEqual(text(self.passed("cf-status"), "partner"), "127.0.0.9")

    def test_volume_creation_lowers_the_aggregate_free_space(self):
        def free():
            aggr = self.passed("aggr-list-info", aggregate="aggr1").find("aggregates").children[0]
            return int(text(aggr, "size-available"))
        before = free()
        self.passed("volume-create", containing_aggr_name="aggr1", volume="v9", size="10g",
                    space_reserve="volume")
        self.assertEqual(before - free(), 10 << 30)
        self.passed("qtree-create", qtree="q9", volume="v9")
        names = [text(q, "qtree") for q in self.passed("qtree-list", volume="v9").find("qtrees").children]
        self.assertEqual(names, ["", "q9"])
        self.assertEqual(self.errno("volume-destroy", name="v9"), 13041, "online volume")

    def test_lun_lifecycle_raw_data_and_resize_refusals(self):
        path = "/vol/vol1/q1/new"
        size = int(text(self.passed("lun-create-by-size", path=path, size=100 << 20, type="windows"),
                        "actual-size"))
        self.assertEqual(size, 100 << 20)
        self.assertEqual(self.errno("lun-create-by-size", path=path, size=100 << 20), 9012)
        data = base64.b64encode(b"\x78\x56\x34\x12").decode()
        self.passed("lun-write-raw", path=path, offset=440, length=4, encoded_data=data)
        read = self.passed("lun-read-raw", path=path, offset=438, length=8)
        self.assertEqual(base64.b64decode(text(read, "encoded-data")), b"\0\0\x78\x56\x34\x12\0\0")
        for new_size, errno in ((size * 11, 9035), (size + 4096, 9042), (size // 2, 9041),
                                (size * 200, 9035)):
            with self.subTest(new_size=new_size):
                self.assertEqual(self.errno("lun-resize", path=path, size=new_size, force="false"),
                                 errno)
        self.assertEqual(self.errno("lun-get-attribute", path=path, name="x"), 9011)
        self.passed("lun-destroy", path=path)
        self.assertEqual(self.errno("lun-list-info", path=path), 9017)

    def test_mapping_assigns_free_lun_ids(self):
        self.passed("igroup-create", initiator_group_name="g1", initiator_group_type="fcp",
                    os_type="windows")
        self.passed("igroup-add", initiator_group_name="g1", initiator="10:00:00:00:c9:6b:3d:1a")
        self.assertEqual(self.errno("igroup-add", initiator_group_name="g1", initiator="not-a-wwn"),
                         9007)
        assigned = self.passed("lun-map", path="/vol/vol2/db_lun", initiator_group="g1")
        # Ids 0, 1 and 2 are already seen by that initiator through other groups.
        self.assertEqual(text(assigned, "lun-id-assigned"), "3")
        found = self.passed("igroup-lookup-lun", initiator_group_name="g1", lun_id=3)
        self.assertEqual(text(found, "path"), "/vol/vol2/db_lun")
        self.assertEqual(self.errno("igroup-lookup-lun", initiator_group_name="g1", lun_id=4), 9016)
        groups = self.passed("lun-map-list-info", path="/vol/vol2/db_lun").find("initiator-groups")
        self.assertEqual([text(g, "initiator-group-name") for g in groups.children],
                         ["ig_host2_iscsi", "g1"])

    def test_aggr_add_takes_a_spare(self):
        self.passed("aggr-add", aggregate="aggr1", disk_count=1)
        disk = self.passed("disk-list-info", disk="0a.27").find("disk-details").children[0]
        self.assertEqual((text(disk, "raid-state"), text(disk, "volume"), text(disk, "raid-type")),
                         ("present", "aggr1", "data"))

    def test_portal_group_and_chap_secret(self):
        tag = text(self.passed("iscsi-tpgroup-create", tpgroup_name="VDSTPG"), "tpgroup-tag")
        self.passed("iscsi-tpgroup-interface-add", interface_name="e0a", tpgroup_tag=tag)
        portals = self.passed("iscsi-portal-list-info").find("iscsi-portal-list-entries").children
        self.assertIn(("e0a", tag), [(text(p, "interface-name"), text(p, "tpgroup-tag"))
                                     for p in portals])
        secret = b"chap\0secret-with-zero"
        cipher = iscsi.rc4(iscsi.DEFAULT_CHAP_KEY, secret).hex()
        self.passed("iscsi-initiator-add-auth", auth_type="CHAP", initiator="iqn.1991-05.com.x:h",
                    password=cipher, user_name="iqn.1991-05.com.x:h")
        auth = {a["initiator"]: a for a in self.state()["iscsi"]["auth"]}
        self.assertEqual(bytes.fromhex(auth["iqn.1991-05.com.x:h"]["password-hex"]), secret)
        self.passed("iscsi-initiator-delete-auth", initiator="iqn.1991-05.com.x:h")
        self.assertEqual(self.errno("iscsi-initiator-delete-auth", initiator="iqn.1991-05.com.x:h"),
                         13064)

    def test_every_portal_is_listed_under_its_quirk(self):
        def listed():
            portals = self.passed("iscsi-portal-list-info").find("iscsi-portal-list-entries").children
            return {text(p, "interface-name"): text(p, "tpgroup-tag") for p in portals}
        self.control("POST", "/sim/set", {"iscsi/tpgroups/e0c_default/interfaces": []})
        self.assertNotIn("e0c", listed())
        self.control("POST", "/sim/set", {"quirks/list-every-portal": True})
        self.assertEqual(listed()["e0c"], "0")

    def test_snapshot_backing_a_lun_is_busy(self):
        self.passed("snapshot-create", volume="vol1", snapshot="s1")
        names = [text(s, "name") for s in
                 self.passed("snapshot-list-info", volume="vol1").find("snapshots").children]
        self.assertEqual(names[-1], "s1")
        self.passed("lun-create-from-snapshot", path="/vol/vol1/q1/c0",
                    snapshot_lun_path="/vol/vol1/.snapshot/s1/q1/lun0")
        self.assertEqual(self.errno("snapshot-delete", volume="vol1", snapshot="s1"), 13048)
        signature = self.passed("lun-read-raw", path="/vol/vol1/q1/c0", offset=440, length=4)
        self.assertEqual(base64.b64decode(text(signature, "encoded-data")), b"\x4d\x3c\x2b\x1a")

    def test_file_write_read_truncate_delete(self):
        path = "/vol/vol0/etc/FilerVDSName.vds"
        self.assertEqual(self.errno("file-read-file", length=1024, offset=0, path=path), 2)
        self.passed("file-write-file", data="00410042", offset=0, overwrite="true", path=path)
        read = self.passed("file-read-file", length=1024, offset=0, path=path)
        self.assertEqual((text(read, "data"), text(read, "length")), ("00410042", "8"))
        self.passed("file-truncate-file", path=path, size=0)
        self.assertEqual(text(self.passed("file-read-file", length=1024, offset=0, path=path),
                              "length"), "0")
        self.passed("file-delete-file", path=path)
        self.assertEqual(self.errno("file-delete-file", path=path), 2)

    def test_broken_off_replica_answers_missing_lun_for_a_while(self):
        self.passed("tandril-break", destination_location="zarvo-a:vol_dr")
        answers = [self.errno("lun-map-list-info", path="/vol/vol_dr/dr_lun") for _ in range(2)]
        self.assertEqual(answers, [9017, 9017])
        self.passed("lun-map-list-info", path="/vol/vol_dr/dr_lun")

    def test_replication_status_names_the_last_transfer_duration_as_the_appliance_does(self):
        status = self.passed("tandril-get-status", location="zarvo-a:vol_dr")
        entry = status.find("tandril-status").children[0]
        self.assertEqual(text(entry, "last-transferd-duration"), "7")
        self.assertIsNone(entry.find("last-transfer-duration"))

    def test_state_survives_export_and_load(self):
        self.passed("snapshot-create", volume="vol2", snapshot="keep")
        self.passed("lun-write-raw", path="/vol/vol2/db_lun", offset=4096, length=3,
                    encoded_data=base64.b64encode(b"abc").decode())
        exported = self.state()
        self.control("POST", "/sim/state", exported)
        self.assertEqual(self.state(), exported)


class CommandLineTest(unittest.TestCase):
    def test_start_ping_and_shutdown(self):
        with tempfile.TemporaryDirectory() as tmp:
            ready = os.path.join(tmp, "ready")
            proc = subprocess.Popen([sys.executable, os.path.join(ROOT, "appliance-sim"),
                                     "--address", HOST, "--port", "0", "--ready-file", ready],
                                    stdout=subprocess.DEVNULL)
            try:
                deadline = time.monotonic() + 20
                while not os.path.exists(ready) and time.monotonic() < deadline:
                    time.sleep(0.05)
                with open(ready) as f:
                    port = f.read().split()[0].split(":")[1]
                ctl = [sys.executable, os.path.join(ROOT, "simctl"), "-a", HOST, "-p", port]
                ping = json.loads(subprocess.check_output(ctl + ["ping"]))
                self.assertEqual(ping["port"], int(port))
                subprocess.check_call(ctl + ["shutdown"], stdout=subprocess.DEVNULL)
                self.assertEqual(proc.wait(timeout=20), 0)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()



class SecondApplianceTest(unittest.TestCase):
    """The options that make a second appliance of the default fixture another
    subsystem: what it answers differs where the provider tells them apart."""

    def answers(self, argv):
        args = sim_main.parse_args(argv + ["--port", "0"])
        fixture = sim_main._identify(sim_main._configure(load_fixture(None, "default.json"), args, None),
                                     args)
        server = SimServer(Appliance(fixture), HOST, 0, None)
        server.start()
        try:
            port = server.server_address[1]

            def call(name):
                return Reply(exchange_raw(port, request_bytes(port, document(name)))).results()
            info = call("system-get-info").find("system-info")
            return {"name": text(info, "system-name"), "serial": text(info, "system-serial-number"),
                    "id": text(info, "system-id"),
                    "node": text(call("iscsi-node-get-name"), "node-name"),
                    "alias": text(call("iscsi-target-alias-get-alias"), "alias-name"),
                    "cluster": text(call("cf-status"), "is-enabled")}
        finally:
            server.stop()

    def test_name_serial_system_id_and_node_name_make_it_distinct(self):
        first = self.answers([])
        second = self.answers(["--name", "zarvo-i", "--serial", "3003520", "--system-id", "0118045801",
                               "--standalone"])
        self.assertEqual(second, dict(first, name="zarvo-i", serial="3003520", id="0118045801",
                                      node="iqn.1992-08.com.korvex:sn.3003520", alias="zarvo-i",
                                      cluster="false"))
        named = self.answers(["--serial", "3003521", "--node-name", "iqn.2000-01.com.example:other"])
        self.assertEqual(named["node"], "iqn.2000-01.com.example:other")
        self.assertEqual(named["name"], first["name"])

    def test_a_standalone_appliance_has_no_partner(self):
        with self.assertRaises(SystemExit):
            sim_main.parse_args(["--standalone", "--partner-address", "127.0.0.3"])

if __name__ == "__main__":
    unittest.main()
