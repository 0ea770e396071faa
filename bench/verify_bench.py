#!/usr/bin/env python3
"""Verifying an installer against hashing the same file with OpenSSL's own
command, in one run, alternating, medians compared.

    bench/verify_bench.py --build build/release [--mib 1024] [--runs 5]

Packs --mib MiB of random bytes (stored, level 0, so packing is quick) with
`qg pack --setup`, then times `qg verify` (SHA-256 of the whole file, the
per-part digests, the archive's CRC-32 through SFXSIG on a second thread)
against `openssl dgst -sha256` of the same file (one SHA-256 pass).  Prints
wall and CPU seconds of each, the throughput, their ratio and verify's peak
resident size (through GNU time, Debian package "time").  Everything is
made in a temporary folder and removed.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(cmd):
    """Wall seconds and CPU seconds of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit("%s failed with status %d" % (cmd[0], child.returncode))
    return wall, usage.ru_utime + usage.ru_stime


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, help="build folder with tools/qg")
    ap.add_argument("--mib", type=int, default=1024)
    ap.add_argument("--runs", type=int, default=5)
    a = ap.parse_args()
    if not os.access("/usr/bin/time", os.X_OK):  # the peak resident size comes from GNU time
        subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts",
                                     "install-deps.sh"), "--only", "time"], check=True)
    qg = os.path.abspath(os.path.join(a.build, "tools", "qg"))
    work = tempfile.mkdtemp(prefix="verify-bench.")
    try:
        payload = os.path.join(work, "payload")
        os.makedirs(payload)
        with open(os.path.join(payload, "blob.bin"), "wb") as f:
            for _ in range(a.mib):
                f.write(os.urandom(1 << 20))
        script = os.path.join(work, "setup.ini")
        with open(script, "w") as f:
            f.write("[SETUP]\nName=Bench\n")
        installer = os.path.join(work, "bench.run")
        subprocess.run([qg, "pack", payload, "-o", installer, "--setup", script, "--level", "0"],
                       check=True, stdout=subprocess.DEVNULL)
        size = os.path.getsize(installer)
        runs = {"qg verify": [], "openssl dgst": []}
        subprocess.run(["cat", installer], check=True, stdout=subprocess.DEVNULL)  # warm the cache
        for _ in range(a.runs):
            runs["qg verify"].append(timed([qg, "verify", installer]))
            runs["openssl dgst"].append(timed(["openssl", "dgst", "-sha256", installer]))
        med = {k: (statistics.median(w for w, _ in v), statistics.median(c for _, c in v))
               for k, v in runs.items()}
        for k, (wall, cpu) in med.items():
            print("%-13s wall %6.2f s  cpu %6.2f s  %7.0f MB/s" % (k, wall, cpu, size / wall / 1e6))
        print("ratio qg verify / openssl dgst: wall %.2f, cpu %.2f" %
              (med["qg verify"][0] / med["openssl dgst"][0], med["qg verify"][1] / med["openssl dgst"][1]))
        # The peak resident size from GNU time: a forked child's own count
        # would include the Python process it was forked from.
        rss = os.path.join(work, "rss.txt")
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss, qg, "verify", installer], check=True,
                       stdout=subprocess.DEVNULL)
        with open(rss) as f:
            print("qg verify peak resident size: %.1f MiB (file %.0f MiB)" %
                  (int(f.read().split()[-1]) / 1024, size / 2**20))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
