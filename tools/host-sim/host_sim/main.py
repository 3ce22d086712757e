"""host-sim: keep a simulated host's sysfs tree beside simulated appliances,
and follow them on every rescan until stopped."""

import argparse
import json
import os
import signal
import sys
import time

from .host import Host, adapters_from, read_initiator_name

FIXTURE_DIR = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fixtures")


def parse_args(argv):
    p = argparse.ArgumentParser(prog="host-sim", description=(
        "Simulated host: a sysfs tree whose SCSI disks follow what simulated appliances map to the "
        "host's initiators, changed on each rescan (see README.md)."))
    p.add_argument("--root", required=True, help="directory of the host (sys/, dev/, host.json)")
    p.add_argument("--appliance", action="append", default=[], metavar="ADDRESS[:PORT]",
                   help="an appliance to follow (repeatable); its target number is its position")
    p.add_argument("--hba-fixture", default=os.path.join(FIXTURE_DIR, "hba.json"),
                   help="the fake HBA library's fixture: one Fibre Channel adapter per port")
    p.add_argument("--initiator-name-file", default="",
                   help="the iSCSI initiator name file (InitiatorName=...)")
    p.add_argument("--poll-ms", type=int, default=20, help="how often the scan files are looked at")
    p.add_argument("--ready-file", help="written once the tree stands and the first scan is done")
    return p.parse_args(argv)


def main(argv=None):
    args = parse_args(argv)
    with open(args.hba_fixture, encoding="utf-8") as f:
        hba = json.load(f)
    adapters = adapters_from(hba, read_initiator_name(args.initiator_name_file))
    os.makedirs(args.root, exist_ok=True)
    host = Host(os.path.abspath(args.root), adapters, args.appliance)
    for adapter in adapters:
        host.say("host%d: %s adapter, initiator %s" % (adapter.host, adapter.kind, adapter.initiator or "-"))
    # The boot-time scan: the disks already mapped are there from the start.
    for adapter in adapters:
        host.rescan(adapter)
    print("host-sim: sysfs root %s" % host.tree.sys, flush=True)
    if args.ready_file:
        with open(args.ready_file + ".tmp", "w", encoding="utf-8") as f:
            f.write(host.tree.sys + "\n")
        os.replace(args.ready_file + ".tmp", args.ready_file)

    # The handler only raises a flag: Event.set() from a signal handler can
    # wait forever on the event's own lock when the signal lands while this
    # thread holds it inside Event.wait().
    stopping = []
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stopping.append(sig))
    while True:
        time.sleep(args.poll_ms / 1000.0)
        if stopping:
            return 0
        host.poll()


if __name__ == "__main__":
    sys.exit(main())
