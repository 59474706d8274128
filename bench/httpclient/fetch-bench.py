#!/usr/bin/env python3
"""Download speed of the HTTP client: a 256 MiB file served by nginx on loopback, fetched into a
file by zephyrine-fetch and by curl -o (best of three each, alternated in one run), then the
pump's cost with FetchPumpBench (a Qt event loop against a plain pump) when it was built.
    bench/httpclient/fetch-bench.py [BUILD_DIR]"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(top, "tests"))
from local_peers import Nginx  # noqa: E402

SIZE = 256 << 20
RUNS = 3
PUMP_RUNS = 5  # the pump's cost is small beside the noise of a shared machine


def timed(args, out):
    if os.path.exists(out):
        os.remove(out)
    start = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    if os.path.getsize(out) != SIZE:
        sys.exit("%s stored %d bytes" % (args[0], os.path.getsize(out)))
    return seconds


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "build")
    fetch = os.path.join(build, "bin", "zephyrine-fetch")
    pump_bench = os.path.join(build, "bin", "FetchPumpBench")
    if not os.access(fetch, os.X_OK):
        sys.exit("missing %s (build the zephyrine-fetch target)" % fetch)
    work = tempfile.mkdtemp(prefix="zephyrine-fetch-bench-")
    nginx = None
    try:
        www = os.path.join(work, "www")
        os.makedirs(www)
        block = os.urandom(1 << 20)
        with open(os.path.join(www, "big.bin"), "wb") as f:
            for _ in range(SIZE >> 20):
                f.write(block)
        nginx = Nginx(www)
        url = "http://127.0.0.1:%d/big.bin" % nginx.port
        out = os.path.join(work, "out.bin")
        ours, curl = [], []
        for _ in range(RUNS):
            ours.append(timed([fetch, url, out], out))
            curl.append(timed(["curl", "-s", "-o", out, url], out))
        mb = SIZE / 1e6
        print("== 256 MiB from nginx on loopback into a file (best of %d)" % RUNS)
        print("zephyrine-fetch %8.1f MB/s" % (mb / min(ours)))
        print("curl -o         %8.1f MB/s" % (mb / min(curl)))
        print("zephyrine-fetch / curl speed: %.2f" % (min(curl) / min(ours)))
        if os.access(pump_bench, os.X_OK):
            print("== the same download, Qt event loop as the pump (best of %d)" % PUMP_RUNS)
            sys.stdout.flush()
            subprocess.run([pump_bench, url, out, str(PUMP_RUNS)], check=True)
        else:
            print("FetchPumpBench not built (needs ZEPHYRINE_WITH_QT)")
    finally:
        if nginx is not None:
            nginx.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
