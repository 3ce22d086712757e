"""Injected faults: what the next matching requests get instead of, or on
top of, their normal answer."""

import base64
import itertools
import threading

# Faults that replace the exchange before the request reaches the state (unless
# "execute" is set), and faults that only change how the normal answer travels.
REPLACING = ("status", "drop", "malformed", "empty", "zero-length-keepalive", "raw", "body", "errno")
FRAMING = ("delay", "chunked", "no-length", "truncate")
KINDS = REPLACING + FRAMING

_REQUIRED = {"status": ("status",), "errno": ("errno",), "body": ("body",), "delay": ("delay",)}


class FaultError(ValueError):
    pass


def validate(desc):
    if not isinstance(desc, dict):
        raise FaultError("a fault is a JSON object")
    kind = desc.get("kind")
    if kind not in KINDS:
        raise FaultError("unknown fault kind %r; kinds: %s" % (kind, ", ".join(KINDS)))
    for field in _REQUIRED.get(kind, ()):
        if field not in desc:
            raise FaultError("fault %s needs %r" % (kind, field))
    if kind == "raw" and "raw" not in desc and "raw_b64" not in desc:
        raise FaultError("fault raw needs 'raw' or 'raw_b64'")
    if kind == "status" and not 100 <= int(desc["status"]) <= 999:
        raise FaultError("status must be a three-digit number")
    for field in ("count", "skip", "chunk_size"):
        if field in desc and not isinstance(desc[field], int):
            raise FaultError("%s must be an integer" % field)
    for field in ("delay", "hold"):
        if field in desc and not isinstance(desc[field], (int, float)):
            raise FaultError("%s must be a number of seconds" % field)
    fault = {"count": 1, "skip": 0, "request": None, "delay": 0, "execute": kind in FRAMING}
    fault.update(desc)
    if fault["count"] == 0:
        raise FaultError("count 0 would never apply; use -1 for every request")
    return fault


def raw_bytes(fault):
    if "raw_b64" in fault:
        return base64.b64decode(fault["raw_b64"])
    return fault["raw"].encode("utf-8")


class FaultTable:
    def __init__(self):
        self._lock = threading.Lock()
        self._faults = []
        self._ids = itertools.count(1)

    def add(self, desc):
        fault = validate(desc)
        with self._lock:
            fault["id"] = next(self._ids)
            self._faults.append(fault)
            return fault["id"]

    def take(self, request_name):
        """The first fault that matches the request, consumed by one use."""
        with self._lock:
            for fault in self._faults:
                if fault["request"] not in (None, request_name):
                    continue
                if fault["skip"] > 0:
                    fault["skip"] -= 1
                    continue
                if fault["count"] > 0:
                    fault["count"] -= 1
                    if fault["count"] == 0:
                        self._faults.remove(fault)
                return dict(fault)
            return None

    def list(self):
        with self._lock:
            return [dict(f) for f in self._faults]

    def clear(self):
        with self._lock:
            self._faults.clear()
