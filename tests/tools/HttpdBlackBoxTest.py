#!/usr/bin/env python3
"""zephyrine-httpd from the outside: real curl and Python's http.client against the command."""
import http.client
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
from email.utils import formatdate

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from local_peers import Httpd  # noqa: E402

HTTPD = os.environ.get("ZEPHYRINE_HTTPD") or (sys.argv.pop(1) if len(sys.argv) > 1 else "")
CAB = bytes((i * 7) % 251 for i in range(30000))


def curl(*args):
    return subprocess.run(["curl", "-s", "--max-time", "10", *args], capture_output=True,
                          check=False)


def raw_request(port, data):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(data)
        chunks = []
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return b"".join(chunks)
            chunks.append(chunk)


def other_local_address():
    """An IPv4 address of this machine other than a loopback one, or None."""
    try:
        out = subprocess.run(["ip", "-o", "-4", "addr", "show"], capture_output=True, text=True,
                             check=False).stdout
    except OSError:
        return None
    for line in out.splitlines():
        address = line.split()[3].split("/")[0]
        if not address.startswith("127."):
            return address
    return None


class HttpdTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="zephyrine-httpd-")
        with open(os.path.join(self.folder, "temppack11.cab"), "wb") as f:
            f.write(CAB)
        self.server = Httpd(HTTPD, self.folder, "--log")

    def tearDown(self):
        if self.server.proc.poll() is None:
            self.server.stop()
        shutil.rmtree(self.folder)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.server.port, path)

    def test_curl_get_head_conditional_and_http10(self):
        got = curl("-D", "-", self.url("/temppack11.cab"))
        head, _, body = got.stdout.partition(b"\r\n\r\n")
        self.assertEqual(body, CAB)
        lines = head.decode().split("\r\n")
        self.assertEqual(lines[0], "HTTP/1.1 200 OK")
        self.assertEqual([line.split(":")[0] for line in lines[1:]],
                         ["Date", "Server", "Last-Modified", "Content-Type", "Content-Length",
                          "Content"])
        self.assertIn("Content-Type: application/vnd.ms-cab-compressed", lines)
        self.assertIn("Content-Length: %d" % len(CAB), lines)

        head = curl("-I", self.url("/temppack11.cab")).stdout.decode()
        self.assertTrue(head.startswith("HTTP/1.1 200 OK\r\n"))
        self.assertNotIn("Content-Length", head)
        self.assertTrue(head.endswith("Content:\r\n\r\n"))

        mtime = os.path.getmtime(os.path.join(self.folder, "temppack11.cab"))
        later = curl("-i", "-z", formatdate(mtime + 60, usegmt=True), self.url("/temppack11.cab"))
        self.assertTrue(later.stdout.startswith(b"HTTP/1.1 304 Not Modified\r\n"))
        self.assertNotIn(b"Content-Length", later.stdout)
        earlier = curl("-z", formatdate(mtime - 3600, usegmt=True), self.url("/temppack11.cab"))
        self.assertEqual(earlier.stdout, CAB)

        old = curl("-i", "--http1.0", self.url("/missing.cab")).stdout
        self.assertTrue(old.startswith(b"HTTP/1.1 404 Not Found\r\n"))
        self.assertTrue(old.endswith(b"<P>HTTP status code: 404</BODY>"))

    def test_request_without_version_gets_the_bytes_alone(self):
        self.assertEqual(raw_request(self.server.port, b"GET /temppack11.cab\r\n"), CAB)
        self.assertEqual(raw_request(self.server.port, b"PUT /temppack11.cab HTTP/1.1\r\n\r\n"),
                         b"")

    def test_python_http_client(self):
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=10)
        conn.request("GET", "/folder/temppack11.cab?x=1", headers={"Connection": "keep-alive"})
        reply = conn.getresponse()
        self.assertEqual((reply.status, reply.reason), (200, "OK"))
        self.assertEqual(reply.getheader("Server"), "Tessel Test Server/1.0")
        self.assertEqual(reply.read(), CAB)
        conn.close()
        conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=10)
        conn.request("POST", "/temppack11.cab", body=b"ignored")
        self.assertEqual(conn.getresponse().read(), CAB)
        conn.close()

    def test_log_lines_and_clean_exit(self):
        curl(self.url("/temppack11.cab"))
        curl("-I", self.url("/temppack11.cab"))
        code, out, err = self.server.stop(signal.SIGINT)
        self.assertEqual(code, 0, err)
        rows = [line.split("\t") for line in out.splitlines()]
        self.assertEqual([len(r) for r in rows], [9, 9, 9, 9])
        self.assertEqual([r[0] for r in rows], ["GET", "RESPONSE", "HEAD", "RESPONSE"])
        self.assertEqual(rows[0][4], "/temppack11.cab")
        self.assertEqual((rows[1][5], rows[1][6]), ("200 OK", str(len(CAB))))
        self.assertEqual((rows[3][5], rows[3][6]), ("200 OK", "0"))

    def test_default_target_redirect_names_the_port_in_use(self):
        self.server.stop()
        self.server = Httpd(HTTPD, self.folder, "--default-target", "temppack11.cab")
        got = curl("-i", self.url("/")).stdout.decode("latin-1")
        self.assertTrue(got.startswith("HTTP/1.1 302 Moved Temporarily\r\n"))
        self.assertIn("\r\nLocation: http://127.0.0.1:%d/temppack11.cab\r\n" % self.server.port, got)
        self.assertEqual(curl("-L", self.url("/")).stdout, CAB)

    def test_bind_address(self):
        bad = subprocess.run([HTTPD, "--port", "0", "--bind", "nowhere"], capture_output=True,
                             text=True, timeout=10)
        self.assertEqual(bad.returncode, 2)  # a usage error, found before anything listens
        self.assertIn("invalid address 'nowhere'", bad.stderr)
        self.assertEqual(curl(self.url("/temppack11.cab")).stdout, CAB)
        other = other_local_address()
        if other is None:
            self.skipTest("no non-loopback IPv4 address here")
        # By default only this machine's loopback address is served.
        elsewhere = "http://%s:%d/temppack11.cab"
        self.assertEqual(curl(elsewhere % (other, self.server.port)).returncode, 7)  # refused
        self.server.stop()
        self.server = Httpd(HTTPD, self.folder, "--bind", "0.0.0.0")
        self.assertEqual(curl(elsewhere % (other, self.server.port)).stdout, CAB)

    def test_port_taken(self):
        other = subprocess.run([HTTPD, "--port", str(self.server.port)], capture_output=True,
                               text=True, timeout=10)
        self.assertEqual(other.returncode, 1)
        self.assertIn("Windows socket error: Address already in use (98), on API 'bind'",
                      other.stderr)
        self.assertEqual(self.server.stop()[0], 0)


class HttpdCommandLineTest(unittest.TestCase):
    """--help and --version answer on standard output with 0; usage errors on standard error with 2,
    before anything listens."""

    def run_httpd(self, *args):
        return subprocess.run([HTTPD, *args], capture_output=True, text=True, timeout=10)

    def test_help_and_version(self):
        for args in (["--help"], ["-h"], ["--port", "0", "--help"]):
            got = self.run_httpd(*args)
            self.assertEqual((got.returncode, got.stderr), (0, ""), args)
            self.assertTrue(got.stdout.startswith("Usage: zephyrine-httpd "), got.stdout)
            for option in ("--bind ADDRESS", "--port N", "--search-path", "--default-target T",
                           "--log", "--version"):
                self.assertIn(option, got.stdout)
        got = self.run_httpd("--version")
        self.assertEqual((got.returncode, got.stderr), (0, ""))
        self.assertEqual(got.stdout, "zephyrine-httpd %s\n" % os.environ["ZEPHYRINE_VERSION"])

    def test_usage_errors(self):
        cases = [
            (["--bogus"], "unknown option '--bogus'"),
            (["-x"], "unknown option '-x'"),
            (["--port"], "option '--port' needs a value"),
            (["--bind"], "option '--bind' needs a value"),
            (["--port", "65536"], "invalid port '65536'"),
            (["--port", "abc"], "invalid port 'abc'"),
            (["--bind", "localhost"], "invalid address 'localhost'"),
            (["--log=1"], "option '--log' takes no value"),
            (["stray"], "unexpected argument 'stray'"),
        ]
        for args, message in cases:
            got = self.run_httpd(*args)
            self.assertEqual(got.returncode, 2, args)
            self.assertEqual(got.stdout, "", args)
            self.assertIn(message, got.stderr, args)
            self.assertIn("--help", got.stderr, args)

    def test_bind_option_is_accepted(self):
        folder = tempfile.mkdtemp(prefix="zephyrine-httpd-")
        try:
            server = Httpd(HTTPD, folder, "--bind", "127.0.0.1")
            self.assertEqual(server.stop()[0], 0)
        finally:
            shutil.rmtree(folder)


if __name__ == "__main__":
    unittest.main()
