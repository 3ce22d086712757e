"""appliance-sim: start one simulated appliance (and, when asked, its
cluster partner) and serve until stopped."""

import argparse
import json
import os
import signal
import sys
import time

from .server import SimServer
from .state import Appliance

FIXTURE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")


def load_fixture(path, default_name):
    with open(path or os.path.join(FIXTURE_DIR, default_name), encoding="utf-8") as f:
        return json.load(f)


def _configure(fixture, args, partner_name):
    if args.user is not None:
        fixture.setdefault("auth", {})["user"] = args.user
    if args.password is not None:
        fixture.setdefault("auth", {})["password"] = args.password
    if args.release is not None:
        fixture["version"] = args.release
    if args.chap_key_hex is not None:
        fixture.setdefault("quirks", {})["chap-key-hex"] = args.chap_key_hex
    if partner_name is not None:
        fixture.setdefault("cluster", {}).update({"enabled": True, "partner": partner_name})
    return fixture


def _identify(fixture, args):
    """What makes this appliance another one than the fixture's: its name,
    serial number, system id and iSCSI node name (by default the one its
    serial number gives), and whether it stands alone."""
    info = fixture.setdefault("system-info", {})
    iscsi = fixture.setdefault("iscsi", {})
    if args.name is not None:
        info["system-name"] = args.name
        iscsi["alias"] = args.name
    if args.serial is not None:
        info["system-serial-number"] = args.serial
        iscsi["node-name"] = "iqn.1992-08.com.korvex:sn.%s" % args.serial
    if args.system_id is not None:
        info["system-id"] = args.system_id
    if args.node_name is not None:
        iscsi["node-name"] = args.node_name
    if args.standalone:
        fixture.setdefault("cluster", {})["enabled"] = False
        for key in ("partner-system-name", "partner-system-id", "partner-serial-number"):
            info.pop(key, None)
    return fixture


def parse_args(argv):
    p = argparse.ArgumentParser(prog="appliance-sim", description=(
        "Simulated appliance: answers the XML management API over HTTP from a JSON fixture. "
        "Control API under /sim/ on the same address (see README.md)."))
    p.add_argument("--address", default="127.0.0.2", help="address to bind (default 127.0.0.2)")
    p.add_argument("--port", type=int, default=80, help="port (default 80; 0 picks a free one)")
    p.add_argument("--fixture", help="JSON fixture (default: the built-in appliance)")
    p.add_argument("--user", help="login name the appliance accepts")
    p.add_argument("--password", help="password the appliance accepts")
    p.add_argument("--release", help="release text answered by system-get-version")
    p.add_argument("--log", help="append each request's raw bytes to this file")
    p.add_argument("--partner-name", help="cluster partner name answered by cf-status")
    p.add_argument("--partner-address", help="also start the cluster partner on this address")
    p.add_argument("--partner-fixture", help="fixture of the partner (default: built-in partner)")
    p.add_argument("--partner-log", help="request log file of the partner")
    p.add_argument("--chap-key-hex", help="key of encrypted request values, as hexadecimal")
    p.add_argument("--ready-file", help="write the bound addresses here once listening")
    mine = p.add_argument_group("a second appliance beside one of the same fixture", (
        "its subsystem must differ in name, serial number and system id, and an iSCSI appliance "
        "in node name"))
    mine.add_argument("--name", help="system name (and iSCSI alias)")
    mine.add_argument("--serial", help="system serial number (and the iSCSI node name it gives)")
    mine.add_argument("--system-id", help="system id")
    mine.add_argument("--node-name", help="iSCSI node name")
    mine.add_argument("--standalone", action="store_true", help="no cluster partner")
    args = p.parse_args(argv)
    if args.standalone and (args.partner_address or args.partner_name):
        p.error("--standalone has no partner")
    return args


def main(argv=None):
    args = parse_args(argv)
    partner_name = args.partner_name or args.partner_address
    servers = []
    fixture = _identify(_configure(load_fixture(args.fixture, "default.json"), args, partner_name), args)
    servers.append(SimServer(Appliance(fixture), args.address, args.port, args.log))
    if args.partner_address:
        partner = _configure(load_fixture(args.partner_fixture, "partner.json"), args, args.address)
        servers.append(SimServer(Appliance(partner), args.partner_address, args.port,
                                 args.partner_log))
    for server in servers:
        server.start()
    bound = ["%s:%d" % server.server_address[:2] for server in servers]
    for address in bound:
        print("appliance-sim: listening on %s" % address, flush=True)
    if args.ready_file:
        tmp = args.ready_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("\n".join(bound) + "\n")
        os.replace(tmp, args.ready_file)

    # The handler only raises a flag: Event.set() from a signal handler can
    # wait forever on the event's own lock when the signal lands while this
    # thread holds it inside Event.wait().
    stopping = []
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stopping.append(sig))
    while not stopping:
        time.sleep(0.2)
        if all(server.stopped.is_set() for server in servers):
            break
    for server in servers:
        if not server.stopped.is_set():
            server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
