"""A client of the application server IMP40500.rdmImpoPrato, written from docs/PROTOCOL.md alone.

It knows nothing of the project's code: the request and reply layouts, the data packets and the
X-IMP-Origem header are made and read here as that document describes them.
"""
import base64
import http.client
import json

try:
    import cbor2
except ImportError:
    raise SystemExit("impclient needs cbor2 (Debian: python3-cbor2, installed by scripts/install-deps.sh)")

SERVER_NAME = "IMP40500.rdmImpoPrato"

# Column kinds (section 4).
TEXT, NUMBER, DATETIME, INTEGER, BOOLEAN = 0, 1, 2, 3, 4
# Changes of a change packet (section 4).
INSERTED, MODIFIED, DELETED = 1, 2, 3
# Yes/no flags (section 2).
YES, NO = -1, 0


class Failure(Exception):
    """A reply with "ok": false: its text, its catalogue key and the HTTP status it came with."""

    def __init__(self, status, reply):
        self.status = status
        self.error = reply.get("error")
        self.key = reply.get("key")
        self.detail = reply.get("detail")
        super().__init__(f"HTTP {status}: {self.error} [{self.key}]")


def column(name, kind=TEXT, width=0):
    return {"name": name, "kind": kind, "width": width}


def packet(table, columns, rows):
    """A whole packet: columns as column(...) maps, rows as lists of values in column order."""
    return cbor2.dumps({"table": table, "fields": columns, "rows": [list(r) for r in rows]})


def change_packet(table, columns, changes):
    """A change packet: changes as (change, values, original), [] where the change has none."""
    return cbor2.dumps({"table": table, "fields": columns, "delta": True,
                        "rows": [[c, list(v), list(o)] for c, v, o in changes]})


def read_packet(data):
    """(table, column names, rows as dicts by column name) of a whole packet."""
    p = cbor2.loads(data)
    names = [f["name"] for f in p["fields"]]
    return p.get("table"), names, [dict(zip(names, row)) for row in p["rows"]]


def origin_header(operator=None, file=None, size=None, sha256=None):
    """The value of X-IMP-Origem (section 5): base64url without padding of a CBOR map."""
    m = {}
    if operator is not None:
        m["operator"] = operator
    if file is not None:
        m["file"] = file
    if size is not None:
        m["bytes"] = size
    if sha256 is not None:
        m["sha256"] = sha256
    return base64.urlsafe_b64encode(cbor2.dumps(m)).rstrip(b"=").decode("ascii")


class Client:
    def __init__(self, host, port, token=None, timeout=60):
        self.host, self.port, self.token, self.timeout = host, port, token, timeout
        self.last_local_port = None  # the port of the last request's connection, as the log names it

    def _connection(self):
        c = http.client.HTTPConnection(self.host, self.port, timeout=self.timeout)
        c.connect()
        self.last_local_port = c.sock.getsockname()[1]
        return c

    def post(self, method, body, headers=None):
        """Sends raw bytes as a call of `method`: (status, decoded CBOR reply or None)."""
        h = {"Content-Type": "application/cbor"}
        if self.token is not None:
            h["X-IMP-Token"] = self.token
        h.update(headers or {})
        c = self._connection()
        try:
            c.request("POST", f"/{SERVER_NAME}/{method}", body=body, headers=h)
            r = c.getresponse()
            data = r.read()
            return r.status, (cbor2.loads(data) if data else None)
        finally:
            c.close()

    def call(self, method, *args, origin=None):
        """The payload of a successful call; Failure otherwise."""
        headers = {"X-IMP-Origem": origin} if origin is not None else None
        status, reply = self.post(method, cbor2.dumps(list(args)), headers)
        if status == 200 and reply.get("ok") is True:
            return reply.get("payload", b"")
        raise Failure(status, reply or {})

    def health(self, verb="GET"):
        """(status, JSON answer or None) of the health path (section 7)."""
        c = self._connection()
        try:
            c.request(verb, "/health")
            r = c.getresponse()
            data = r.read()
            return r.status, (json.loads(data) if data else None)
        finally:
            c.close()
