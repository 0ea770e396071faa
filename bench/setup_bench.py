#!/usr/bin/env python3
"""Installing a payload with the setup program against extracting the same
archive with `qg extract`, in one run, alternating, medians compared.

    bench/setup_bench.py --build build/release [--synthetic --mib 256] [--rss-mib 1024]

The timed payload is the benchmark corpus that `rz_corpus` writes (the same
tree on every machine; it needs a build with -DRZ_BENCH=ON), or with
--synthetic --mib N files of 8 MiB, half text-like and half random.
Prints the wall time of each, their ratio (verification + installation
over plain extraction; the goal is at most 1.3), and the setup program's
peak resident size while it installs a payload of --rss-mib MiB (the goal is
under 16 MiB for 1 GiB).  Everything is made in a temporary folder and
removed at the end; HOME and the registry store point into it.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WORDS = [b"install", b"archive", b"entry", b"folder", b"registry", b"library", b"setup",
         b"payload", b"journal", b"record", b"rollback", b"shortcut", b"download", b"value"]


def make_corpus(folder, mib, seed):
    """Files of 8 MiB: half text-like (compresses well), half random bytes."""
    rnd = random.Random(seed)
    os.makedirs(folder)
    left = mib << 20
    n = 0
    while left > 0:
        size = min(8 << 20, left)
        path = os.path.join(folder, "sub%d" % (n % 4), "file%03d.bin" % n)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            if n % 2 == 0:
                out = bytearray()
                while len(out) < size:
                    out += rnd.choice(WORDS) + (b"\n" if rnd.random() < 0.1 else b" ")
                f.write(bytes(out[:size]))
            else:
                f.write(rnd.randbytes(size))
        left -= size
        n += 1


def timed(argv, env):
    """Wall seconds and peak resident KiB of one run (which must succeed)."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s\n%s" % (" ".join(argv), err))
    return wall, usage.ru_maxrss


def pack(qg, corpus, work, name):
    script = os.path.join(work, "bench.ini")
    with open(script, "w") as f:
        f.write("[SETUP]\nName=Bench\nVersion=1\nDefaultDir=$HOME/bench\n")
    plain = os.path.join(work, name + ".qg")
    setup = os.path.join(work, name + ".run")
    subprocess.run([qg, "pack", corpus, "-o", plain], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([qg, "pack", corpus, "-o", setup, "--setup", script], check=True,
                   stdout=subprocess.DEVNULL)
    return plain, setup


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--synthetic", action="store_true")
    ap.add_argument("--mib", type=int, default=256)
    ap.add_argument("--rss-mib", type=int, default=1024)
    ap.add_argument("--repeat", type=int, default=3)
    a = ap.parse_args()
    if not os.access("/usr/bin/time", os.X_OK):  # the peak resident size comes from GNU time
        subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts",
                                     "install-deps.sh"), "--only", "time"], check=True)
    qg = os.path.abspath(os.path.join(a.build, "tools/qg"))
    work = tempfile.mkdtemp(prefix="qg-setup-bench.")
    env = dict(os.environ, HOME=work, RAZIZA3Z_REGISTRY=os.path.join(work, "registry.reg"))
    try:
        corpus = os.path.join(work, "corpus")
        rz_corpus = os.path.abspath(os.path.join(a.build, "bench/rz_corpus"))
        if a.synthetic or not os.access(rz_corpus, os.X_OK):
            make_corpus(corpus, a.mib, 1)
            what = "payload %d MiB" % a.mib
        else:
            subprocess.run([rz_corpus, corpus], check=True, stdout=subprocess.DEVNULL)
            what = "benchmark corpus"
        plain, setup = pack(qg, corpus, work, "corpus")
        out = os.path.join(work, "out")
        extract_t, install_t = [], []
        for _ in range(a.repeat):
            shutil.rmtree(out, ignore_errors=True)
            extract_t.append(timed([qg, "extract", plain, "-d", out], env)[0])
            shutil.rmtree(out, ignore_errors=True)
            install_t.append(timed([setup, "--silent", "--no-run", "--target", out], env)[0])
        shutil.rmtree(out, ignore_errors=True)
        e, i = statistics.median(extract_t), statistics.median(install_t)
        print("%s: qg extract %.2f s, installer (verify + install) %.2f s, "
              "ratio %.2f (goal <= 1.3)" % (what, e, i, i / e))
        if a.rss_mib:
            shutil.rmtree(corpus)
            os.remove(plain)
            os.remove(setup)
            big = os.path.join(work, "big")
            make_corpus(big, a.rss_mib, 2)
            _, setup = pack(qg, big, work, "big")
            shutil.rmtree(big)
            # Through GNU time (Debian package "time"): a child forked from
            # this process would count the Python process's own pages too.
            rss_file = os.path.join(work, "rss.txt")
            wall, _ = timed(["/usr/bin/time", "-f", "%M", "-o", rss_file, setup, "--silent",
                             "--no-run", "--target", out], env)
            with open(rss_file) as f:
                rss = int(f.read().split()[-1])
            print("payload %d MiB: installer peak resident size %.1f MiB (goal < 16), %.1f s"
                  % (a.rss_mib, rss / 1024.0, wall))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
