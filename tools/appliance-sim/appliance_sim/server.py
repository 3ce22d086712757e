"""The HTTP side: one threaded server per appliance address, answering the
management API on its servlet path and the control API under /sim/.

Requests are read as raw bytes (so the log holds exactly what the client
sent) and answers are written by hand (so faults can bend the wire format).
"""

import base64
import binascii
import json
import socket
import socketserver
import struct
import threading
import time
import urllib.parse
from http import HTTPStatus

from . import dispatch, faults, scsi, xmlio
from . import errors as E
from .faults import FaultError, FaultTable
from .reqlog import RequestLog, part

API_PATH = "/servlets/korvex.servlets.admin.XMLrequest_filer"
READ_TIMEOUT = 30.0
MAX_HEAD = 64 * 1024
MAX_BODY = 64 * 1024 * 1024
DEFAULT_HOLD = 30.0
MALFORMED_BODY = ("<?xml version='1.0' encoding='UTF-8' ?>\n"
                  "<korvex version='1.1'><results status=\"passed\"><unclosed></results></korvex>")


class BadRequest(Exception):
    def __init__(self, status, raw=b""):
        super().__init__(status)
        self.status = status
        self.raw = raw


class RawRequest:
    def __init__(self, method, target, headers, head, body, raw):
        self.method = method
        self.target = target
        url = urllib.parse.urlsplit(target)
        self.path = url.path
        self.query = urllib.parse.parse_qs(url.query)
        self.headers = headers
        self.head = head
        self.body = body
        self.raw = raw

    def header(self, name):
        name = name.lower()
        for key, value in self.headers:
            if key.lower() == name:
                return value
        return None


def _recv_more(sock, buf, raw_so_far):
    chunk = sock.recv(65536)
    if not chunk:
        raise BadRequest(400, raw_so_far + bytes(buf))
    buf += chunk


def _read_chunked(sock, buf, head):
    """De-chunk a chunked body; returns (body, raw framing as received)."""
    body = bytearray()
    pos = 0
    while True:
        while b"\r\n" not in buf[pos:]:
            _recv_more(sock, buf, head)
        end = buf.index(b"\r\n", pos)
        try:
            size = int(bytes(buf[pos:end]).split(b";")[0].strip(), 16)
        except ValueError:
            raise BadRequest(400, head + bytes(buf)) from None
        pos = end + 2
        if size == 0:
            while b"\r\n" not in buf[pos:]:
                _recv_more(sock, buf, head)
            pos = buf.index(b"\r\n", pos) + 2
            return bytes(body), bytes(buf[:pos])
        while len(buf) < pos + size + 2:
            _recv_more(sock, buf, head)
        body += buf[pos:pos + size]
        if len(body) > MAX_BODY:
            raise BadRequest(413, head)
        pos += size + 2


def read_request(sock):
    buf = bytearray()
    while b"\r\n\r\n" not in buf:
        if len(buf) > MAX_HEAD:
            raise BadRequest(431, bytes(buf))
        chunk = sock.recv(65536)
        if not chunk:
            if buf:
                raise BadRequest(400, bytes(buf))
            return None
        buf += chunk
    head_end = buf.index(b"\r\n\r\n") + 4
    head = bytes(buf[:head_end])
    rest = buf[head_end:]
    lines = head[:-4].decode("latin-1").split("\r\n")
    words = lines[0].split(" ")
    if len(words) != 3 or not words[2].startswith("HTTP/"):
        raise BadRequest(400, bytes(buf))
    headers = []
    for line in lines[1:]:
        if ":" in line:
            name, value = line.split(":", 1)
            headers.append((name, value.lstrip()))
    request = RawRequest(words[0], words[1], headers, head, b"", head)
    if (request.header("transfer-encoding") or "").lower() == "chunked":
        request.body, framing = _read_chunked(sock, rest, head)
        request.raw = head + framing
        return request
    length = request.header("content-length")
    if length is None:
        if request.method == "POST":
            raise BadRequest(411, head)
        return request
    try:
        length = int(length)
    except ValueError:
        raise BadRequest(400, head) from None
    if length < 0 or length > MAX_BODY:
        raise BadRequest(413, head)
    while len(rest) < length:
        chunk = sock.recv(65536)
        if not chunk:
            raise BadRequest(400, head + bytes(rest))
        rest += chunk
    request.body = bytes(rest[:length])
    request.raw = head + request.body
    return request


def _status_line(code, reason=None):
    if reason is None:
        try:
            reason = HTTPStatus(code).phrase
        except ValueError:
            reason = "Status"
    return "HTTP/1.1 %d %s\r\n" % (code, reason)


def http_message(code, body=b"", content_type="text/xml; charset=\"UTF-8\"", length=True,
                 close=True, chunk_size=None, extra=(), reason=None):
    head = _status_line(code, reason) + "Server: Zarvo\r\n"
    if body or content_type and code == 200:
        head += "Content-Type: %s\r\n" % content_type
    for name, value in extra:
        head += "%s: %s\r\n" % (name, value)
    if chunk_size:
        head += "Transfer-Encoding: chunked\r\n"
        framed = b"".join(b"%x\r\n%s\r\n" % (len(body[i:i + chunk_size]), body[i:i + chunk_size])
                          for i in range(0, len(body), chunk_size)) + b"0\r\n\r\n"
        body = framed
    elif length:
        head += "Content-Length: %d\r\n" % len(body)
    if close:
        head += "Connection: close\r\n"
    return head.encode("latin-1") + b"\r\n" + body


class SimServer(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    block_on_close = False  # a connection held open by a fault must not delay a stop
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, app, host, port, log_path=None):
        self.app = app
        self.log = RequestLog(log_path)
        self.faults = FaultTable()
        self.stopped = threading.Event()
        super().__init__((host, port), Handler)

    def start(self):
        thread = threading.Thread(target=self.serve_forever, name="sim-%s" % (self.server_address,),
                                  daemon=True)
        thread.start()
        return thread

    def stop(self):
        self.shutdown()
        self.server_close()
        self.stopped.set()


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        sock.settimeout(READ_TIMEOUT)
        peer = "%s:%d" % self.client_address[:2]
        try:
            request = read_request(sock)
        except BadRequest as bad:
            entry = self.server.log.add(peer, bad.raw, len(bad.raw))
            entry["http"] = bad.status
            self.server.log.finish(entry)
            self._send(http_message(bad.status))
            return
        except (OSError, socket.timeout):
            return
        if request is None:
            return
        try:
            if request.path == "/sim" or request.path.startswith("/sim/"):
                self._control(request)
            else:
                self._api(request, peer)
        except OSError:
            pass

    def _send(self, data, close=True):
        # The request is in the log before its answer leaves, so a client that
        # reads the log right after its reply finds the request there.
        entry = getattr(self, "_log_entry", None)
        if entry is not None:
            entry["reply-bytes"] = len(data)
        self._finish_log()
        try:
            self.request.sendall(data)
            if close:
                self.request.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    # ----- management API ----------------------------------------------------------

    def _api(self, request, peer):
        self._log_entry = self.server.log.add(peer, request.raw, len(request.head))
        try:
            self._api_exchange(request, self._log_entry)
        finally:
            self._finish_log()

    def _finish_log(self):
        entry, self._log_entry = getattr(self, "_log_entry", None), None
        if entry is not None:
            self.server.log.finish(entry)

    def _api_exchange(self, request, entry):
        if request.path != API_PATH:
            entry["http"] = 404
            self._send(http_message(404))
            return
        if request.method != "POST":
            entry["http"] = 405
            self._send(http_message(405, extra=(("Allow", "POST"),)))
            return
        root, problem = self._parse(request.body)
        command = root.children[0] if root is not None and not problem else None
        entry["request"] = command.name if command is not None else None
        fault = self.server.faults.take(entry["request"])
        kind = fault["kind"] if fault else None
        if fault:
            entry["fault"] = kind
            if fault["delay"]:
                time.sleep(fault["delay"])
        replacing = kind in faults.REPLACING and kind != "errno"
        if replacing and not fault["execute"]:
            self._wire_fault(fault, entry)
            return
        if not self._authorised(request):
            entry["http"] = 401
            self._send(http_message(401, extra=(("WWW-Authenticate", 'Basic realm="Zarvo"'),)))
            return
        if kind == "errno":
            errno = int(fault["errno"])
            results = xmlio.failed(errno, fault.get("reason", "Injected failure"))
        elif problem:
            errno = E.E_API_ERROR
            results = xmlio.failed(errno, problem)
        else:
            results, errno = dispatch.answer(self.server.app, command)
        entry.update(http=200, errno=errno, status="passed" if errno is None else "failed")
        if replacing:
            self._wire_fault(fault, entry)
            return
        body = self._document(results, root)
        if kind == "chunked":
            self._send(http_message(200, body, chunk_size=int(fault.get("chunk_size", 100))))
        elif kind == "no-length":
            self._send(http_message(200, body, length=False))
        elif kind == "truncate":
            whole = http_message(200, body)
            self._send(whole[:len(whole) - max(1, len(body) // 2)])
        else:
            self._send(http_message(200, body))

    def _document(self, results, root):
        app = self.server.app
        with app.lock:
            quirks = dict(app.s["quirks"])
        xmlns = dict(root.attrs).get("xmlns") if root is not None else None
        return xmlio.document(results, xmlns=xmlns, version=quirks["reply-version"],
                              doctype=quirks["doctype"])

    def _parse(self, body):
        """(root, problem): the request document, or why it cannot be used."""
        if not body:
            return None, "Empty request"
        try:
            root = xmlio.parse(body)
        except xmlio.XmlError as err:
            return None, "Unable to parse input XML: %s" % err
        if root.name != "korvex":
            return root, "Invalid root element '%s'" % root.name
        with self.server.app.lock:
            check = self.server.app.s["quirks"]["check-namespace"]
        xmlns = dict(root.attrs).get("xmlns", "")
        if check and not (xmlns.startswith("http://") and xmlns.endswith("/filer/admin")):
            return root, "Invalid namespace '%s'" % xmlns
        if len(root.children) != 1:
            return root, "The korvex element must hold exactly one request, not %d" % len(root.children)
        return root, None

    def _authorised(self, request):
        with self.server.app.lock:
            auth = dict(self.server.app.s["auth"])
        if auth.get("user") is None:
            return True
        value = request.header("authorization") or ""
        scheme, _, token = value.partition(" ")
        if scheme.lower() != "basic":
            return False
        try:
            text = base64.b64decode(token.strip(), validate=True).decode("utf-8")
        except (binascii.Error, ValueError):
            return False
        user, sep, password = text.partition(":")
        return bool(sep) and user == auth["user"] and password == (auth.get("password") or "")

    def _wire_fault(self, fault, entry):
        kind = fault["kind"]
        if kind == "status":
            code = int(fault["status"])
            entry["http"] = code
            self._send(http_message(code, fault.get("body", "").encode("utf-8"),
                                    reason=fault.get("reason")))
        elif kind == "drop":
            if fault.get("reset"):
                # A zero linger time makes close() send a reset.
                self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self._finish_log()
            self.request.close()
        elif kind == "malformed":
            entry["http"] = 200
            self._send(http_message(200, fault.get("body", MALFORMED_BODY).encode("utf-8")))
        elif kind == "body":
            entry["http"] = 200
            self._send(http_message(200, fault["body"].encode("utf-8")))
        elif kind == "empty":
            entry["http"] = 200
            self._send(http_message(200, b""))
        elif kind == "zero-length-keepalive":
            entry["http"] = 200
            self._send(http_message(200, b"", close=False), close=False)
            self._hold_open(float(fault.get("hold", DEFAULT_HOLD)))
        elif kind == "raw":
            self._send(faults.raw_bytes(fault))

    def _hold_open(self, seconds):
        """Keep the connection open until the client closes it or time runs out."""
        deadline = time.monotonic() + seconds
        try:
            while True:
                left = deadline - time.monotonic()
                if left <= 0:
                    return
                self.request.settimeout(left)
                if not self.request.recv(4096):
                    return
        except (OSError, socket.timeout):
            return

    # ----- control API ---------------------------------------------------------------

    def _json(self, code, value):
        self._send(http_message(code, json.dumps(value, indent=1).encode("utf-8"),
                                content_type="application/json"))

    def _control(self, request):
        try:
            reply = Control(self.server).route(request)
        except ControlError as err:
            self._json(err.status, {"error": str(err)})
            return
        if isinstance(reply, bytes):
            self._send(http_message(200, reply, content_type="application/octet-stream"))
        else:
            self._json(200, reply)


class ControlError(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


def _entry_json(entry):
    return {"seq": entry["seq"], "time": entry["time"], "peer": entry["peer"],
            "request": entry["request"], "http": entry["http"], "status": entry["status"],
            "errno": entry["errno"], "fault": entry["fault"], "reply-bytes": entry.get("reply-bytes", 0),
            "head": part(entry, "head").decode("latin-1"),
            "body": part(entry, "body").decode("utf-8", "replace")}


def _set_path(tree, path, value):
    """Set one value in the fixture form; a path is "/"-separated, list items
    are found by index or by their name, path, adapter or initiator."""
    keys = [k for k in path.split("/") if k]
    if not keys:
        raise ControlError(400, "empty path")
    node = tree
    for i, key in enumerate(keys):
        last = i == len(keys) - 1
        if isinstance(node, list):
            if key.lstrip("-").isdigit():
                index = int(key)
            else:
                index = next((n for n, item in enumerate(node) if isinstance(item, dict) and key in
                              (item.get("name"), item.get("path"), item.get("adapter"),
                               item.get("initiator"))), None)
            if index is None or not -len(node) <= index < len(node):
                raise ControlError(404, "no item %s in %s" % (key, path))
            if last:
                node[index] = value
                return
            node = node[index]
        elif isinstance(node, dict):
            if last:
                node[key] = value
                return
            if key not in node or not isinstance(node[key], (dict, list)):
                node[key] = {}
            node = node[key]
        else:
            raise ControlError(400, "%s does not lead into an object or a list" % path)


class Control:
    """The control API: request log, faults, state."""

    def __init__(self, server):
        self.server = server

    def route(self, request):
        path = request.path.rstrip("/")
        method = request.method
        table = {
            ("GET", "/sim/ping"): self.ping,
            ("GET", "/sim/log"): self.log,
            ("POST", "/sim/log/clear"): self.log_clear,
            ("DELETE", "/sim/log"): self.log_clear,
            ("GET", "/sim/faults"): lambda r: self.server.faults.list(),
            ("POST", "/sim/faults"): self.fault_add,
            ("POST", "/sim/faults/clear"): self.faults_clear,
            ("DELETE", "/sim/faults"): self.faults_clear,
            ("GET", "/sim/state"): lambda r: self.server.app.export(),
            ("POST", "/sim/state"): self.state_load,
            ("PUT", "/sim/state"): self.state_load,
            ("POST", "/sim/set"): self.state_set,
            ("POST", "/sim/reset"): self.reset,
            ("POST", "/sim/shutdown"): self.shutdown,
            ("GET", "/sim/scsi"): self.scsi_luns,
        }
        handler = table.get((method, path))
        if handler is None and method == "GET" and path.startswith("/sim/log/"):
            return self.log_entry(request, path[len("/sim/log/"):])
        if handler is None:
            raise ControlError(404, "no control endpoint %s %s" % (method, path))
        return handler(request)

    @staticmethod
    def _body(request, default=None):
        if not request.body:
            if default is None:
                raise ControlError(400, "a JSON body is needed")
            return default
        try:
            return json.loads(request.body)
        except ValueError as err:
            raise ControlError(400, "invalid JSON: %s" % err) from None

    def ping(self, request):
        host, port = self.server.server_address[:2]
        return {"address": host, "port": port, "requests": len(self.server.log.entries())}

    def log(self, request):
        return [_entry_json(e) for e in self.server.log.entries()]

    def log_entry(self, request, which):
        entry = self.server.log.get("last" if which == "last" else
                                    int(which) if which.isdigit() else None)
        if entry is None:
            raise ControlError(404, "no logged request %s" % which)
        return part(entry, request.query.get("part", ["all"])[0])

    def log_clear(self, request):
        self.server.log.clear()
        return {}

    def fault_add(self, request):
        descs = self._body(request)
        try:
            ids = [self.server.faults.add(s) for s in (descs if isinstance(descs, list) else [descs])]
        except (FaultError, ValueError, TypeError) as err:
            raise ControlError(400, str(err)) from None
        return {"ids": ids}

    def faults_clear(self, request):
        self.server.faults.clear()
        return {}

    def state_load(self, request):
        fixture = self._body(request)
        try:
            self.server.app.load(fixture)
        except (KeyError, TypeError, ValueError, AttributeError) as err:
            raise ControlError(400, "unusable fixture: %r" % (err,)) from None
        return {}

    def state_set(self, request):
        changes = self._body(request)
        if not isinstance(changes, dict):
            raise ControlError(400, "a JSON object of path: value")
        app = self.server.app
        with app.lock:
            fixture = app.export()
            for path, value in changes.items():
                _set_path(fixture, path, value)
            try:
                app.load(fixture)
            except (KeyError, TypeError, ValueError, AttributeError) as err:
                raise ControlError(400, "unusable state: %r" % (err,)) from None
        return {}

    def reset(self, request):
        what = self._body(request, {})
        if what.get("state", True):
            self.server.app.reset()
        if what.get("log", True):
            self.server.log.clear()
        if what.get("faults", True):
            self.server.faults.clear()
        return {}

    def scsi_luns(self, request):
        protocol = request.query.get("protocol", [""])[0]
        if protocol not in scsi.PROTOCOLS:
            raise ControlError(400, "protocol must be one of %s" % ", ".join(scsi.PROTOCOLS))
        return scsi.visible_luns(self.server.app, protocol, request.query.get("initiator", []))

    def shutdown(self, request):
        threading.Thread(target=self.server.stop, daemon=True).start()
        return {}
