#!/usr/bin/env python3
"""The program as a user gets it: `cmake --install` of the build into a temporary prefix, then the
installed zephyrine started offscreen with a fresh home and a demo content file. It plays and
installs the file, fills the per-user folders, and leaves every file under the prefix as it was.
    InstalledProgramTest.py CMAKE BUILD_DIR"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

CMAKE = sys.argv.pop(1) if len(sys.argv) > 1 else "cmake"
BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else ""
START_WAIT = 90  # seconds the program may take to play and install the file


def listing(folder):
    """Every file and link under folder with its checksum or target, and every folder's mode."""
    rows = []
    for top, dirs, files in os.walk(folder):
        for name in sorted(dirs):
            path = os.path.join(top, name)
            rows.append((os.path.relpath(path, folder), "dir %o" % os.lstat(path).st_mode))
        for name in files:
            path = os.path.join(top, name)
            if os.path.islink(path):
                rows.append((os.path.relpath(path, folder), "-> " + os.readlink(path)))
                continue
            with open(path, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            st = os.lstat(path)
            rows.append((os.path.relpath(path, folder), "%s %o %d" % (digest, st.st_mode,
                                                                      st.st_mtime_ns)))
    return sorted(rows)


class InstalledProgramTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = tempfile.mkdtemp(prefix="zephyrine-installed-")
        cls.prefix = os.path.join(cls.top, "prefix")
        got = subprocess.run([CMAKE, "--install", BUILD, "--prefix", cls.prefix],
                             capture_output=True, text=True, check=False)
        if got.returncode != 0:
            raise RuntimeError("cmake --install failed:\n" + got.stdout + got.stderr)
        cls.program = os.path.join(cls.prefix, "bin", "zephyrine")
        cls.data = os.path.join(cls.prefix, "share", "zephyrine")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.top)

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="home-", dir=self.top)
        os.chmod(self.home, 0o700)

    def environment(self, **extra):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home,
               "XDG_DATA_HOME": os.path.join(self.home, "data"),
               "XDG_CONFIG_HOME": os.path.join(self.home, "config"),
               "XDG_CACHE_HOME": os.path.join(self.home, "cache"),
               "XDG_RUNTIME_DIR": self.home, "TMPDIR": self.home,
               "QTWEBENGINE_DISABLE_SANDBOX": "1"}
        env.update(extra)
        return env

    def test_layout(self):
        for path in ["bin/zephyrine", "bin/zephyrine-httpd", "bin/zephyrine-fetch",
                     "share/zephyrine/WinksList.dat", "share/zephyrine/ruffle/ruffle.js",
                     "share/zephyrine/demo-content/demo-red.mca",
                     "share/zephyrine/demo-content/demo-blue.mco",
                     "share/applications/zephyrine.desktop",
                     "share/mime/packages/zephyrine.xml",
                     "share/icons/hicolor/scalable/apps/zephyrine.svg",
                     "share/icons/hicolor/128x128/apps/zephyrine.png",
                     "share/metainfo/zephyrine.metainfo.xml",
                     "share/man/man1/zephyrine.1.gz", "share/man/man1/zephyrine-httpd.1.gz",
                     "share/man/man1/zephyrine-fetch.1.gz"]:
            self.assertTrue(os.path.isfile(os.path.join(self.prefix, path)), path)
        libraries = [f for _, _, files in os.walk(os.path.join(self.prefix, "lib"))
                     for f in files if f == "libzephyrine_flash.so"]
        self.assertEqual(libraries, ["libzephyrine_flash.so"])
        self.assertFalse(os.path.exists(os.path.join(self.data, "demo-content", ".built")))
        for tool in ("desktop-file-validate", "appstreamcli"):
            if shutil.which(tool) is None:
                continue
            args = [tool, os.path.join(self.prefix, "share/applications/zephyrine.desktop")]
            if tool == "appstreamcli":
                args = [tool, "validate", "--no-net",
                        os.path.join(self.prefix, "share/metainfo/zephyrine.metainfo.xml")]
            got = subprocess.run(args, capture_output=True, text=True, check=False)
            self.assertNotIn("E:", got.stdout + got.stderr, args)
            self.assertNotIn("error", (got.stdout + got.stderr).lower(), args)

    def test_help_and_version_need_no_display(self):
        version = "zephyrine %s\n" % os.environ["ZEPHYRINE_VERSION"]
        for args, status, stream, start in [(["--help"], 0, "stdout", "Usage: "),
                                            (["--version"], 0, "stdout", version),
                                            (["--bogus"], 2, "stderr", "zephyrine: ")]:
            got = subprocess.run([self.program, *args], env=self.environment(),
                                 capture_output=True, text=True, timeout=30, check=False)
            self.assertEqual(got.returncode, status, args)
            self.assertTrue(getattr(got, stream).startswith(start), (args, got))
        self.assertFalse(os.path.exists(os.path.join(self.home, "data")))

    def test_plays_installs_and_writes_only_per_user(self):
        before = listing(self.prefix)
        log_path = os.path.join(self.home, "program.log")
        env = self.environment(QT_QPA_PLATFORM="offscreen", ZEPHYRINE_TRACE="stderr",
                               ZEPHYRINE_MESSAGE_BOX="stderr", ZEPHYRINE_SERVER_PORT="0")
        with open(log_path, "wb") as log:
            program = subprocess.Popen(
                [self.program, os.path.join(self.data, "demo-content", "demo-red.mca")],
                env=env, stdout=log, stderr=subprocess.STDOUT, cwd=self.home)
        try:
            deadline = time.monotonic() + START_WAIT
            text = ""
            while time.monotonic() < deadline and program.poll() is None:
                with open(log_path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                if "Status:  installed successfully.\n" in text and "\nFirstFrame: " in text:
                    break
                time.sleep(0.2)
            self.assertIn("Status:  installed successfully.\n", text)
            self.assertIn("\nFirstFrame: ", text)
            self.assertNotIn("MessageBox[", text)
            self.assertIsNone(program.poll(), text)
        finally:
            program.terminate()
            program.wait(timeout=30)

        data = os.path.join(self.home, "data")
        with open(os.path.join(self.data, "WinksList.dat"), "rb") as f:
            sample = f.read()
        with open(os.path.join(data, "zephyrine", "WinksList.dat"), "rb") as f:
            self.assertEqual(f.read(), sample)
        for name in ("temp.cab", "temppack11.cab"):
            self.assertTrue(os.path.isfile(os.path.join(data, "zephyrine", "msnpack", name)))
        self.assertTrue(os.path.isfile(
            os.path.join(data, "messenger-content", "temppack11", "demo-red.xml")))
        self.assertTrue(os.path.isdir(os.path.join(self.home, "config", "zephyrine")))
        # The package's desktop entry carries the association: no per-user one shadows it.
        self.assertFalse(os.path.exists(os.path.join(data, "applications")))
        self.assertFalse(os.path.exists(os.path.join(data, "mime")))
        self.assertEqual(listing(self.prefix), before)


if __name__ == "__main__":
    unittest.main()
