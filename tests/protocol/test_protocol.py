"""imp40500-server driven by impclient.py, a client written from docs/PROTOCOL.md alone, on a demo
destination; then the server as an operator runs it: its log, its token sources, its warning.

    test_protocol.py --server BIN --cli BIN --work DIR
"""
import argparse
import hashlib
import http.client
import json
import os
import re
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True  # nothing into the source tree
import impclient as imp  # noqa: E402
from impclient import Client, Failure, column, packet, change_packet, read_packet

ARGS = None
LOG_LINE = re.compile(r'^time=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z peer=\S+ method=\S+ (path=\S+ )?ms=\d+ '
                      r'status=\d{3} outcome=(ok|failed|refused)( |$)')


def start_server(db, log_path, *extra, env=None, listen="127.0.0.1:0"):
    """A server on a free port: (process, port). Its stderr, the log, goes to log_path."""
    with open(log_path, "wb") as log:
        proc = subprocess.Popen([ARGS.server, "--db", db, "--listen", listen, *extra], stdout=subprocess.PIPE,
                                stderr=log, env=env)
    line = proc.stdout.readline().decode()
    m = re.search(r":(\d+)/", line)
    if not m:
        stop(proc)
        with open(log_path) as log:
            raise RuntimeError(f"the server did not start: {line!r} {log.read()}")
    return proc, int(m.group(1))


def stop(proc):
    proc.terminate()
    proc.wait(10)
    proc.stdout.close()


def log_fields(line):
    return dict(re.findall(r'(\w+)=("(?:[^"\\]|\\.)*"|\S*)', line))


DB = None  # the demo destination every test serves


def setUpModule():
    global DB
    for suffix in ("", "-wal", "-shm"):
        path = os.path.join(ARGS.work, "protocol.db" + suffix)
        if os.path.exists(path):
            os.remove(path)
    DB = "sqlite:" + os.path.join(ARGS.work, "protocol.db")
    subprocess.run([ARGS.cli, "initdb", "--db", DB, "--demo"], check=True, stdout=subprocess.DEVNULL)


class Protocol(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = ARGS.work
        cls.db = DB
        token_file = os.path.join(cls.work, "token")
        with open(token_file, "w") as f:
            f.write("segredo-do-teste\n")
        cls.log_path = os.path.join(cls.work, "protocol-server.log")
        cls.proc, cls.port = start_server(cls.db, cls.log_path, "--token-file", token_file, "--max-request-mb", "1")
        cls.client = Client("127.0.0.1", cls.port, token="segredo-do-teste")

    @classmethod
    def tearDownClass(cls):
        stop(cls.proc)

    def logged(self, method, local_port, **expected):
        """The log line of the request from local_port (waiting a moment: it is written after the
        answer), checked against the log's layout and the fields expected."""
        for _ in range(50):
            with open(self.log_path) as f:
                for line in f:
                    fields = log_fields(line.rstrip("\n"))
                    if fields.get("peer") == f"127.0.0.1:{local_port}" and fields.get("method") == method:
                        self.assertRegex(line, LOG_LINE)
                        for k, v in expected.items():
                            self.assertEqual(fields.get(k), v, line)
                        return fields
            time.sleep(0.1)
        self.fail(f"no log line for {method} from port {local_port}")

    def test_health(self):
        version = subprocess.run([ARGS.server, "--version"], capture_output=True, text=True).stdout.split()[-1]
        status, answer = Client("127.0.0.1", self.port).health()  # no token
        self.assertEqual(status, 200)
        self.assertEqual(answer, {"database": "open", "server": imp.SERVER_NAME, "version": version})
        self.assertEqual(Client("127.0.0.1", self.port).health("HEAD")[0], 200)

    def test_token(self):
        for token in (None, "outro"):
            with self.subTest(token=token):
                c = Client("127.0.0.1", self.port, token=token)
                with self.assertRaises(Failure) as refused:
                    c.call("GetPrato")
                self.assertEqual((refused.exception.status, refused.exception.key), (401, "Srv_TokenInvalido"))
                self.logged("GetPrato", c.last_local_port, status="401", outcome="refused", key="Srv_TokenInvalido")

    def test_shapes(self):
        expected = {
            "GetPrato": ("PRATO", "CDFILAUXPRAT CDPRATO CDFILIAL NMPRATO CDNVPRATO SGUNIDADE VRARREDTRANS "
                                  "DTULTATUPRAT CDSEGMER CDEXPRATO DTULTATURECE IDERRO MNPRATOLOCAL"),
            "GetRecePadr": ("RECEPADR", "CDFILAUXPRAT CDPRATO CDPRODUTO SGUNIDADE QTPRODUTO"),
            "GetReceServ": ("RECESERV", "CDFILIAL CDSERVFILI CDFILAUXPRAT CDPRATO CDPRODUTO SGUNIDADE QTPRODUTO"),
            "GetReceFili": ("RECEFILI", "CDFILIAL CDFILAUXPRAT CDPRATO CDPRODUTO SGUNIDADE QTPRODUTO"),
            "GetPratPadr": ("PRATPADR", "CDFILAUXPRAT CDPRATO SGUNIDADE QTRENDIMENTO"),
            "GetPratFili": ("PRATFILI", "CDFILIAL CDFILAUXPRAT CDPRATO VRPRECO DTULTATU"),
            "GetPratServ": ("PRATSERV", "CDFILIAL CDSERVFILI CDFILAUXPRAT CDPRATO VRPRECO"),
        }
        for method, (table, columns) in expected.items():
            with self.subTest(method=method):
                name, names, rows = read_packet(self.client.call(method))
                self.assertEqual((name, names, rows), (table, columns.split(), []))
        _, names, rows = read_packet(self.client.call("GetParamGeral"))
        self.assertEqual(names, ["CDFILIAL", "CDPICTPRAT"])
        self.assertEqual(rows[0]["CDFILIAL"], "0001")

    def test_refusals(self):
        c = self.client
        cases = [  # (what, method, body, extra headers, status, key)
            ("unknown method", "Nenhum", b"\x80", {}, 200, None),
            ("not CBOR", "GetPrato", b"\xff\x00", {}, 200, None),
            ("not an array", "GetPrato", b"\xa0", {}, 200, None),
            ("arguments missing", "GetPesqPrato", b"\x80", {}, 200, None),
            ("a code too long", "GetPesqPrato", imp.cbor2.dumps(["12345678901", "0001"]), {}, 200, None),
            ("a length that is no number", "GetPrato", None, {"Content-Length": "muito"}, 400, "Srv_TamanhoExigido"),
            ("over --max-request-mb", "GetPrato", None, {"Content-Length": str(2 << 20)}, 413, "Srv_TamanhoExcedido"),
        ]
        for what, method, body, headers, status, key in cases:
            with self.subTest(what):
                if body is None:  # the headers alone: the server answers before any body
                    conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
                    conn.putrequest("POST", f"/{imp.SERVER_NAME}/{method}")
                    conn.putheader("X-IMP-Token", c.token)
                    for k, v in headers.items():
                        conn.putheader(k, v)
                    conn.endheaders()
                    r = conn.getresponse()
                    got_status, reply = r.status, imp.cbor2.loads(r.read())
                    conn.close()
                else:
                    got_status, reply = c.post(method, body, headers)
                self.assertEqual(got_status, status)
                self.assertIs(reply["ok"], False)
                self.assertTrue(reply["error"])
                if key:
                    self.assertEqual(reply.get("key"), key)
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        conn.request("POST", f"/{imp.SERVER_NAME}/GetPrato", body=iter([b"\x80"]), encode_chunked=True,
                     headers={"X-IMP-Token": c.token})
        r = conn.getresponse()
        self.assertEqual((r.status, imp.cbor2.loads(r.read()).get("key")), (411, "Srv_TamanhoExigido"))
        conn.close()
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        conn.request("GET", f"/{imp.SERVER_NAME}/GetPrato", headers={"X-IMP-Token": c.token})
        self.assertEqual(conn.getresponse().status, 404)
        conn.close()

    def test_directories(self):
        cols = [column("CDPROGRAMA", imp.TEXT, 8), column("DSDIRETORIO", imp.TEXT, 100)]
        row = ["IMP40500", "/srv/exportacoes"]
        self.assertEqual(self.client.call("SetDiretorios", change_packet("DIRETORIOS", cols, [(imp.INSERTED, row, [])])),
                         b"")
        self.assertEqual(read_packet(self.client.call("GetDiretorios"))[2],
                         [{"CDPROGRAMA": "IMP40500", "DSDIRETORIO": "/srv/exportacoes"}])
        other = change_packet("DIRETORIOS", cols, [(imp.INSERTED, ["OUTRO", "/x"], [])])
        self.assertRaises(Failure, self.client.call, "SetDiretorios", other)
        self.client.call("SetDiretorios", change_packet("DIRETORIOS", cols, [(imp.DELETED, [], row)]))
        self.assertEqual(read_packet(self.client.call("GetDiretorios"))[2], [])

    def import_args(self, dishes, recipes, branch="0001"):
        prato = [column("CDFILAUXPRAT", imp.TEXT, 4), column("CDPRATO", imp.TEXT, 10),
                 column("CDFILIAL", imp.TEXT, 4), column("NMPRATO", imp.TEXT, 40),
                 column("SGUNIDADE", imp.TEXT, 10), column("DTULTATUPRAT", imp.DATETIME),
                 column("IDERRO", imp.TEXT, 10)]
        rece = [column("CDFILAUXPRAT", imp.TEXT, 4), column("CDPRATO", imp.TEXT, 10),
                column("CDPRODUTO", imp.TEXT, 10), column("SGUNIDADE", imp.TEXT, 10),
                column("QTPRODUTO", imp.NUMBER)]
        return [packet("PRATO", prato, dishes), packet("RECEPADR", rece, recipes), b"", b"", b"", b"", b"", b"",
                imp.YES, imp.NO, imp.NO, branch]

    def test_import(self):
        when = 1717243200000  # 2024-06-01 12:00
        dishes = [["0001", "PY0001", "0001", "SOPA DO CLIENTE", "PORC", when, "0000000000"],
                  ["0001", "PY0002", "0001", "PRATO COM ERRO", "PORC", when, "0010000000"]]
        recipes = [["0001", "PY0001", "000101", "KG", 0.25], ["0001", "PY0001", "000107", "G", 30],
                   ["0001", "PY0002", "000101", "KG", 1]]
        sha = hashlib.sha256(b"arquivo do teste").hexdigest()
        origin = imp.origin_header(operator="ADMIN", file="pratos python.txt", size=16, sha256=sha.upper())
        summary = imp.cbor2.loads(self.client.call("Importacao", *self.import_args(dishes, recipes), origin=origin))
        self.assertEqual(summary["dishesWritten"], 1)
        self.assertEqual(summary["dishesNotWritten"], ["PY0002"])
        self.assertIn(["PRATO", 1], summary["rowsPerTable"])
        self.assertIn(["RECEPADR", 2], summary["rowsPerTable"])
        self.assertRegex(summary["historyId"], r"^[0-9a-f-]{36}$")
        fields = self.logged("Importacao", self.client.last_local_port, status="200", outcome="ok",
                             operator="ADMIN", file='"pratos python.txt"', dishes_written="1", dishes_refused="1")
        self.assertIn("RECEPADR:2", fields["rows"])

        found = read_packet(self.client.call("GetPesqPrato", "PY0001", "0001"))[2]
        self.assertEqual(found, [{"CDFILAUXPRAT": "0001", "CDPRATO": "PY0001", "NMPRATO": "SOPA DO CLIENTE"}])
        self.assertEqual(read_packet(self.client.call("GetPesqPrato", "PY9999", "0001"))[2], [])

        keys = packet("PRATO", [column("CDFILAUXPRAT", imp.TEXT, 4), column("CDPRATO", imp.TEXT, 10)],
                      [["0001", "NOVO01"], ["0001", "PY0001"]])
        preview = imp.cbor2.loads(self.client.call("GetPrevia", keys, imp.YES, imp.NO, imp.NO, "0001"))
        self.assertEqual(preview, {"existing": [1], "rows": {"RECEPADR": 2, "RECEFILI": 0, "RECESERV": 0}})

        history = json.loads(subprocess.run([ARGS.cli, "history", "--db", self.db, "--json"], check=True,
                                            capture_output=True, text=True).stdout)
        self.assertEqual((history[0]["file"], history[0]["operator"], history[0]["sha256"]),
                         ("pratos python.txt", "ADMIN", sha))

    def test_import_refused(self):
        for what, args in [("unknown branch", self.import_args([], [], branch="9999")),
                           ("eleven arguments", self.import_args([], [])[:11]),
                           ("a recipe without its product", self.import_args(
                               [["0001", "PY0003", "0001", "X", "PORC", None, "0000000000"]],
                               [["0001", "PY0003", "", "KG", 1]]))]:
            with self.subTest(what):
                with self.assertRaises(Failure) as refused:
                    self.client.call("Importacao", *args, origin="não é base64!")
                self.assertEqual(refused.exception.status, 200)
                self.logged("Importacao", self.client.last_local_port, status="200", outcome="failed")


class Operator(unittest.TestCase):
    """The server's command line: where its token comes from, and what it says when it has none."""

    def setUp(self):
        self.db = DB
        self.log = os.path.join(ARGS.work, "operator-server.log")

    def test_token_from_environment(self):
        proc, port = start_server(self.db, self.log, env=dict(os.environ, IMP_TOKEN="do-ambiente"))
        try:
            self.assertRaises(Failure, Client("127.0.0.1", port).call, "GetPrato")
            self.assertTrue(Client("127.0.0.1", port, token="do-ambiente").call("GetPrato"))
        finally:
            stop(proc)

    def test_token_file_refused(self):
        empty = os.path.join(ARGS.work, "token-vazio")
        open(empty, "w").close()
        for what, args, named in [("missing", ["--token-file", os.path.join(ARGS.work, "nao-existe")], "nao-existe"),
                                  ("empty", ["--token-file", empty], "token-vazio"),
                                  ("a folder", ["--token-file", ARGS.work], ARGS.work),
                                  ("both", ["--token-file", empty, "--token", "x"], "--token-file")]:
            with self.subTest(what):
                r = subprocess.run([ARGS.server, "--db", self.db, "--listen", "127.0.0.1:0", *args],
                                   capture_output=True, text=True, timeout=30)
                self.assertEqual(r.returncode, 2)
                self.assertIn(named, r.stderr)

    def test_warning_beyond_loopback(self):
        for listen, token, warned in [("0.0.0.0:0", [], True), ("0.0.0.0:0", ["--token", "t"], False),
                                      ("127.0.0.1:0", [], False)]:
            with self.subTest(listen=listen, token=token):
                proc, port = start_server(self.db, self.log, *token, listen=listen)
                Client("127.0.0.1", port).health()
                stop(proc)
                with open(self.log) as f:
                    text = f.read()
                self.assertEqual("sem token" in text, warned, text)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    os.makedirs(ARGS.work, exist_ok=True)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
