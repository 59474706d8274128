"""Real HTTP peers on loopback for the black-box tests and the benchmarks: zephyrine-httpd,
nginx with a config of its own in a temporary folder, and python3 -m http.server."""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

START_WAIT = 10  # seconds a peer may take to start listening


class Httpd:
    """One running zephyrine-httpd on a port the system picks."""

    def __init__(self, binary, folder, *extra):
        self.proc = subprocess.Popen([binary, "--port", "0", "--search-path", folder, *extra],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if "listening" not in line:
            raise RuntimeError("no listening line: %r %r" % (line, self.proc.stderr.read()))
        self.port = int(line.split()[-1])

    def stop(self, sig=signal.SIGTERM):
        self.proc.send_signal(sig)
        out, err = self.proc.communicate(timeout=10)
        return self.proc.returncode, out, err


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, proc):
    deadline = time.monotonic() + START_WAIT
    while time.monotonic() < deadline and proc.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def nginx_binary():
    """nginx from PATH or /usr/sbin (not on every user's PATH); None when not installed."""
    return shutil.which("nginx") or shutil.which("nginx", path="/usr/sbin:/usr/local/sbin")


class Nginx:
    """nginx serving a folder on 127.0.0.1, with its config, pid and temp paths in a folder of
    its own, in the foreground and without an access log."""

    def __init__(self, root):
        binary = nginx_binary()
        if binary is None:
            raise RuntimeError("nginx is not installed (scripts/setup.sh installs it)")
        self.prefix = tempfile.mkdtemp(prefix="zephyrine-nginx-")
        # A master running as root hands the work to an unprivileged user, who could not read
        # a private temporary folder.
        user = "user root;" if os.geteuid() == 0 else ""
        for _ in range(3):  # the free port may be taken before nginx binds it
            self.port = free_port()
            conf = os.path.join(self.prefix, "nginx.conf")
            with open(conf, "w") as f:
                f.write(f"""{user}
worker_processes 1;
pid {self.prefix}/nginx.pid;
error_log {self.prefix}/error.log;
events {{ worker_connections 64; }}
http {{
    access_log off;
    sendfile on;
    default_type application/octet-stream;
    client_body_temp_path {self.prefix}/body;
    proxy_temp_path {self.prefix}/proxy;
    fastcgi_temp_path {self.prefix}/fastcgi;
    uwsgi_temp_path {self.prefix}/uwsgi;
    scgi_temp_path {self.prefix}/scgi;
    server {{ listen 127.0.0.1:{self.port}; root {root}; }}
}}
""")
            self.proc = subprocess.Popen(
                [binary, "-e", os.path.join(self.prefix, "error.log"), "-c", conf, "-p",
                 self.prefix, "-g", "daemon off;"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if wait_listening(self.port, self.proc):
                return
            self.stop()
        raise RuntimeError("nginx did not start: " + self.error_log())

    def error_log(self):
        try:
            with open(os.path.join(self.prefix, "error.log")) as f:
                return f.read()
        except OSError:
            return ""

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGQUIT)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def close(self):
        self.stop()
        shutil.rmtree(self.prefix, ignore_errors=True)


class PythonHttpServer:
    """python3 -m http.server serving a folder on 127.0.0.1."""

    def __init__(self, root):
        self.port = free_port()
        self.proc = subprocess.Popen(
            [sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "--directory", root,
             str(self.port)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_listening(self.port, self.proc):
            self.close()
            raise RuntimeError("http.server did not start")

    def close(self):
        self.proc.terminate()
        self.proc.wait()
