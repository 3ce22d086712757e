"""simctl: drive a running simulated appliance through its control API."""

import argparse
import json
import signal
import sys
import urllib.error
import urllib.request


def call(address, port, method, path, body=None, raw=False):
    data = None if body is None else json.dumps(body).encode("utf-8")
    request = urllib.request.Request("http://%s:%d%s" % (address, port, path), data=data,
                                     method=method)
    if data is not None:
        request.add_header("Content-Type", "application/json")
    try:
        with urllib.request.urlopen(request, timeout=30) as reply:
            payload = reply.read()
    except urllib.error.HTTPError as err:
        message = err.read().decode("utf-8", "replace")
        raise SystemExit("simctl: %s %s: %d %s" % (method, path, err.code, message.strip()))
    return payload if raw else json.loads(payload or b"null")


def _value(text):
    try:
        return json.loads(text)
    except ValueError:
        return text


def _pairs(items):
    out = {}
    for item in items:
        key, sep, value = item.partition("=")
        if not sep:
            raise SystemExit("simctl: expected key=value, got %r" % item)
        out[key] = _value(value)
    return out


def main(argv=None):
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # quiet when piped into head
    p = argparse.ArgumentParser(prog="simctl", description="Control a simulated appliance.")
    p.add_argument("-a", "--address", default="127.0.0.2")
    p.add_argument("-p", "--port", type=int, default=80)
    sub = p.add_subparsers(dest="command", required=True)
    sub.add_parser("ping")
    log = sub.add_parser("log", help="list logged requests, or print one's raw bytes")
    log.add_argument("which", nargs="?", help="'last' or a sequence number: print its raw bytes")
    log.add_argument("--part", choices=("all", "head", "body"), default="all")
    log.add_argument("--json", action="store_true", help="whole entries as JSON")
    sub.add_parser("clear-log")
    fault = sub.add_parser("fault", help="inject a fault: KIND key=value ...")
    fault.add_argument("kind")
    fault.add_argument("fields", nargs="*")
    sub.add_parser("faults")
    sub.add_parser("clear-faults")
    state = sub.add_parser("state", help="print the current state (fixture form)")
    state.add_argument("--out")
    load = sub.add_parser("load", help="replace the state with a fixture file")
    load.add_argument("file")
    setp = sub.add_parser("set", help="set state values: PATH=VALUE (path separated by /)")
    setp.add_argument("pairs", nargs="+")
    reset = sub.add_parser("reset", help="back to the start-up fixture; clears log and faults")
    reset.add_argument("--keep-log", action="store_true")
    reset.add_argument("--keep-faults", action="store_true")
    sub.add_parser("shutdown")
    args = p.parse_args(argv)

    def do(method, path, body=None, raw=False):
        return call(args.address, args.port, method, path, body, raw)

    out = None
    if args.command == "ping":
        out = do("GET", "/sim/ping")
    elif args.command == "log":
        if args.which:
            sys.stdout.buffer.write(do("GET", "/sim/log/%s?part=%s" % (args.which, args.part),
                                       raw=True))
            return 0
        entries = do("GET", "/sim/log")
        if args.json:
            out = entries
        else:
            for e in entries:
                print("%d %s %s http=%s status=%s errno=%s%s" % (
                    e["seq"], e["peer"], e["request"] or "-", e["http"], e["status"] or "-",
                    "-" if e["errno"] is None else e["errno"],
                    " fault=%s" % e["fault"] if e["fault"] else ""))
    elif args.command == "clear-log":
        do("POST", "/sim/log/clear")
    elif args.command == "fault":
        desc = dict(_pairs(args.fields), kind=args.kind)
        out = do("POST", "/sim/faults", desc)
    elif args.command == "faults":
        out = do("GET", "/sim/faults")
    elif args.command == "clear-faults":
        do("POST", "/sim/faults/clear")
    elif args.command == "state":
        state = do("GET", "/sim/state")
        if args.out:
            with open(args.out, "w", encoding="utf-8") as f:
                json.dump(state, f, indent=1)
        else:
            out = state
    elif args.command == "load":
        with open(args.file, encoding="utf-8") as f:
            do("POST", "/sim/state", json.load(f))
    elif args.command == "set":
        do("POST", "/sim/set", _pairs(args.pairs))
    elif args.command == "reset":
        do("POST", "/sim/reset", {"log": not args.keep_log, "faults": not args.keep_faults})
    elif args.command == "shutdown":
        do("POST", "/sim/shutdown")
    if out is not None:
        print(json.dumps(out, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
