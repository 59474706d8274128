#!/usr/bin/env python3
"""zephyrine-fetch from the outside, against real peers: zephyrine-httpd, nginx and Python's
http.server.   FetchBlackBoxTest.py ZEPHYRINE-FETCH ZEPHYRINE-HTTPD"""
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from local_peers import Httpd, Nginx, PythonHttpServer, free_port, nginx_binary  # noqa: E402

FETCH = sys.argv.pop(1) if len(sys.argv) > 1 else ""
HTTPD = sys.argv.pop(1) if len(sys.argv) > 1 else ""
DATA = os.urandom(3 << 20)


class FetchTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="zephyrine-fetch-")
        self.root = os.path.join(self.folder, "www")
        os.makedirs(os.path.join(self.root, "dir"))
        with open(os.path.join(self.root, "data.bin"), "wb") as f:
            f.write(DATA)
        with open(os.path.join(self.root, "dir", "index.html"), "w") as f:
            f.write("<p>index</p>")
        self.out = os.path.join(self.folder, "out.bin")

    def tearDown(self):
        shutil.rmtree(self.folder)

    def fetch(self, url, out=None, limit=None):
        def set_limit():
            if limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        return subprocess.run([FETCH, url, out or self.out], capture_output=True, timeout=120,
                              preexec_fn=set_limit)

    def body(self):
        with open(self.out, "rb") as f:
            return f.read()

    def check_stored(self, url, status_line):
        got = self.fetch(url)
        self.assertEqual(got.returncode, 0, got.stderr)
        self.assertEqual(self.body(), DATA)
        header = got.stderr.decode("latin-1")
        self.assertTrue(header.startswith(status_line), header)
        self.assertTrue(header.endswith("\r\n\r\n"), header)
        self.assertIn("Content-Length: %d\r\n" % len(DATA), header)

    def test_each_peer_stores_the_file_byte_for_byte(self):
        httpd = Httpd(HTTPD, self.root)
        try:
            self.check_stored("http://127.0.0.1:%d/data.bin" % httpd.port, "HTTP/1.1 200 OK\r\n")
        finally:
            httpd.stop()
        python = PythonHttpServer(self.root)
        try:
            self.check_stored("http://localhost:%d/data.bin" % python.port, "HTTP/1.0 200 OK\r\n")
        finally:
            python.close()

    @unittest.skipIf(nginx_binary() is None, "nginx is not installed (scripts/setup.sh installs it)")
    def test_nginx_file_redirect_and_error_page(self):
        nginx = Nginx(self.root)
        try:
            url = "http://127.0.0.1:%d" % nginx.port
            self.check_stored(url + "/data.bin", "HTTP/1.1 200 OK\r\n")
            # A folder without its "/" is answered with a redirect to the folder.
            got = self.fetch(url + "/dir")
            self.assertEqual(got.returncode, 0, got.stderr)
            self.assertEqual(self.body(), b"<p>index</p>")
            # An error status is a stored page and a success of the command.
            got = self.fetch(url + "/missing")
            self.assertEqual(got.returncode, 0, got.stderr)
            self.assertTrue(got.stderr.startswith(b"HTTP/1.1 404 Not Found\r\n"), got.stderr)
            self.assertIn(b"404 Not Found", self.body())
        finally:
            nginx.close()

    def test_failures_end_with_status_1_and_their_message(self):
        python = PythonHttpServer(self.root)
        try:
            url = "http://127.0.0.1:%d/data.bin" % python.port
            cases = [
                ("refused", "http://127.0.0.1:%d/" % free_port(), None, None,
                 "Connection Failed"),
                ("unknown host", "http://no-such-host.invalid/", None, None,
                 "Null Remote Address"),
                ("https", "https://127.0.0.1/", None, None, "HTTP Secure Socket is not supported"),
                ("bad port", "http://127.0.0.1:abc/", None, None,
                 "'abc' is not a valid integer value"),
                ("empty URL", "", None, None, "Empty URL"),
                ("body file cannot be made", url, os.path.join(self.folder, "no", "out"), None,
                 "Cannot open file"),
                ("file size limit", url, None, 1 << 20, "File too large"),
            ]
            for what, target, out, limit, message in cases:
                got = self.fetch(target, out, limit)
                self.assertEqual(got.returncode, 1, what)
                last = got.stderr.decode("latin-1").rstrip("\n").split("\n")[-1]
                self.assertIn(message, last, what)
        finally:
            python.close()

    def test_command_line_conventions(self):
        def run(*args):
            return subprocess.run([FETCH, *args], capture_output=True, text=True, timeout=10)

        for args in (["--help"], ["-h"], ["http://127.0.0.1:1/", "--help"]):
            got = run(*args)
            self.assertEqual((got.returncode, got.stderr), (0, ""), args)
            self.assertTrue(got.stdout.startswith("Usage: zephyrine-fetch URL BODYFILE\n"), args)
        got = run("--version")
        self.assertEqual((got.returncode, got.stderr), (0, ""))
        self.assertEqual(got.stdout, "zephyrine-fetch %s\n" % os.environ["ZEPHYRINE_VERSION"])
        out = os.path.join(self.folder, "never")
        cases = [
            ([], "missing argument URL"),
            (["http://127.0.0.1:1/"], "missing argument BODYFILE"),
            (["http://127.0.0.1:1/", out, "extra"], "unexpected argument 'extra'"),
            (["--timeout", "5", "http://127.0.0.1:1/", out], "unknown option '--timeout'"),
        ]
        for args, message in cases:
            got = run(*args)
            self.assertEqual((got.returncode, got.stdout), (2, ""), args)
            self.assertIn(message, got.stderr, args)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
