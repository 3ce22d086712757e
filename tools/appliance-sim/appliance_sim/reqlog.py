"""The log of every management-API request's raw bytes, kept in memory for the
control API and, when asked, appended to a file."""

import itertools
import threading
import time

MAX_ENTRIES = 10000


class RequestLog:
    def __init__(self, path=None):
        self._lock = threading.Lock()
        self._entries = []
        self._seq = itertools.count(1)
        self.path = path
        if path:
            open(path, "wb").close()

    def add(self, peer, raw, head_len):
        entry = {"seq": None, "time": time.time(), "peer": peer, "raw": bytes(raw),
                 "head_len": head_len, "request": None, "http": None, "status": None,
                 "errno": None, "fault": None}
        with self._lock:
            entry["seq"] = next(self._seq)
            self._entries.append(entry)
            del self._entries[:-MAX_ENTRIES]
        return entry

    def finish(self, entry):
        """Write the finished entry (request name and outcome known) to the file."""
        if not self.path:
            return
        head = "--- request %d time=%s peer=%s name=%s http=%s status=%s errno=%s bytes=%d\n" % (
            entry["seq"], time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(entry["time"])),
            entry["peer"], entry["request"] or "-", entry["http"] or "-", entry["status"] or "-",
            "-" if entry["errno"] is None else entry["errno"], len(entry["raw"]))
        with self._lock:
            with open(self.path, "ab") as f:
                f.write(head.encode() + entry["raw"] + b"\n")

    def entries(self):
        with self._lock:
            return list(self._entries)

    def get(self, seq):
        with self._lock:
            if seq == "last":
                return self._entries[-1] if self._entries else None
            return next((e for e in self._entries if e["seq"] == seq), None)

    def clear(self):
        with self._lock:
            self._entries.clear()
            if self.path:
                open(self.path, "wb").close()


def part(entry, which):
    """The raw request, its head (request line and headers) or its body."""
    if which == "head":
        return entry["raw"][:entry["head_len"]]
    if which == "body":
        return entry["raw"][entry["head_len"]:]
    return entry["raw"]
