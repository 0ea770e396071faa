#!/usr/bin/env bash
# Extraction against its peers on the benchmark corpus, in one run.
#
#   bench/extract_compare.sh [--smoke] [--runs N] [--build DIR] [--scratch DIR]
#
# Writes the corpus (rz_corpus, the same tree on every machine), packs it with
# `qg pack --level 9`, as a zip -9 and as a tar, and times with hyperfine
# (median of N runs, 5 by default), each extraction into an empty folder of a
# tmpfs when one has room:
#   qg extract, with and without -j 2,  vs  bsdtar -xf corpus.zip, unzip corpus.zip
#   qg test, with and without -j 2,     vs  unzip -t corpus.zip
#   qg test (decoding alone) and bsdtar -xf corpus.tar (writing alone): the
#   limits of "decode, then write" that qg extract is measured against.
# Then counts system calls per extracted small file with strace -f -c over
# the corpus's small files alone (qg extract, bsdtar, unzip).
# It prints times and ratios only; it never passes or fails on time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

smoke=0
runs=5
build=build/bench
scratch=""
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) smoke=1; runs=2 ;;
    --runs) runs=$2; shift ;;
    --build) build=$2; shift ;;
    --scratch) scratch=$2; shift ;;
    *) echo "usage: $0 [--smoke] [--runs N] [--build DIR] [--scratch DIR]" >&2; exit 2 ;;
  esac
  shift
done

# The peers and the measuring tools, for this script only (not the build's).
scripts/install-deps.sh hyperfine libarchive-tools zip unzip strace python3 cmake build-essential

# A build folder of its own is configured here; one given with --build is
# used as it is configured (it needs -DRZ_BENCH=ON for rz_corpus).
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DRZ_BENCH=ON -DRZ_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target qg rz_corpus >/dev/null
qg=$root/$build/tools/qg
corpus_tool=$root/$build/bench/rz_corpus

# A tmpfs keeps the disk out of the figures; it needs room for the corpus,
# three archives and one extracted tree (about 5 times the corpus).
if [ -z "$scratch" ]; then
  need_kb=$(( smoke ? 64 * 1024 : 640 * 1024 ))
  base=${TMPDIR:-/tmp}
  if [ -d /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR==2 {print $4}')" -gt "$need_kb" ]; then
    base=/dev/shm
  fi
  scratch=$(mktemp -d "$base/rz-extract-compare.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
fi
cd "$scratch"
echo "scratch folder: $scratch ($(df -PT . | awk 'NR==2 {print $2}'))"

corpus_args=()
[ "$smoke" = 1 ] && corpus_args=(--smoke)
echo "corpus: $("$corpus_tool" corpus "${corpus_args[@]}")"
small_files=$(find corpus/small -type f | wc -l)

"$qg" pack corpus -o corpus.qg --level 9 >/dev/null
"$qg" pack corpus/small -o small.qg --level 9 >/dev/null
(cd corpus && zip -9 -r -q ../corpus.zip . && cd small && zip -9 -r -q ../../small.zip .)
tar -cf corpus.tar -C corpus .
for f in corpus.qg corpus.zip corpus.tar; do
  printf '%-12s %12d bytes\n' "$f" "$(stat -c %s "$f")"
done

# Medians of the runs, one JSON file per group of commands.
fresh='rm -rf out && mkdir out'
hyperfine --style basic --runs "$runs" --warmup 1 --prepare "$fresh" --export-json extract.json \
  -n "qg extract" "$qg extract corpus.qg -d out --yes" \
  -n "qg extract -j 2" "$qg extract corpus.qg -d out --yes -j 2" \
  -n "bsdtar -xf corpus.zip" "bsdtar -xf corpus.zip -C out" \
  -n "unzip corpus.zip" "unzip -q corpus.zip -d out" \
  -n "bsdtar -xf corpus.tar" "bsdtar -xf corpus.tar -C out" >/dev/null
hyperfine --style basic --runs "$runs" --warmup 1 --export-json test.json \
  -n "qg test" "$qg test corpus.qg --yes" \
  -n "qg test -j 2" "$qg test corpus.qg --yes -j 2" \
  -n "unzip -t corpus.zip" "unzip -tq corpus.zip" >/dev/null

# System calls per small file: the whole run's calls over the files written.
count_calls() {  # name, then the command
  local name=$1
  shift
  rm -rf out && mkdir out
  strace -f -c -U name,calls -o "strace-$name.txt" "$@" >/dev/null 2>&1
}
count_calls qg "$qg" extract small.qg -d out --yes
count_calls bsdtar bsdtar -xf small.zip -C out
count_calls unzip unzip -q small.zip -d out

python3 - "$small_files" <<'EOF'
import json, sys

small_files = int(sys.argv[1])
median = {}
for name in ("extract.json", "test.json"):
    for r in json.load(open(name))["results"]:
        median[r["command"]] = r["median"]

print("\nmedian times (s)")
for command, t in median.items():
    print(f"  {command:<24} {t:8.3f}")

def ratio(what, peer, ours):
    print(f"  {what:<44} {median[peer] / median[ours]:6.2f}x")

print("\nratios (peer time / qg time; above 1: qg is faster)")
ratio("qg extract vs bsdtar -xf corpus.zip", "bsdtar -xf corpus.zip", "qg extract")
ratio("qg extract -j 2 vs bsdtar -xf corpus.zip", "bsdtar -xf corpus.zip", "qg extract -j 2")
ratio("qg extract vs unzip corpus.zip", "unzip corpus.zip", "qg extract")
ratio("qg test vs unzip -t corpus.zip", "unzip -t corpus.zip", "qg test")
ratio("qg test -j 2 vs unzip -t corpus.zip", "unzip -t corpus.zip", "qg test -j 2")
print("\nthe limits of decode, then write (share of qg extract's time)")
for what, key in (("decoding alone (qg test)", "qg test"),
                  ("writing alone (bsdtar -xf corpus.tar)", "bsdtar -xf corpus.tar")):
    print(f"  {what:<44} {median[key] / median['qg extract']:6.2f}")
print(f"  {'both added up':<44} "
      f"{(median['qg test'] + median['bsdtar -xf corpus.tar']) / median['qg extract']:6.2f}")

def calls(tool):
    per = {}
    total = 0
    for line in open(f"strace-{tool}.txt"):
        parts = line.split()
        if len(parts) != 2 or not parts[1].isdigit():
            continue
        if parts[0] == "total":
            total = int(parts[1])
        else:
            per[parts[0]] = int(parts[1])
    return total, per

print(f"\nsystem calls per extracted small file ({small_files} files, strace -f -c,"
      " start-up included)")
for tool in ("qg", "bsdtar", "unzip"):
    total, per = calls(tool)
    top = sorted(per.items(), key=lambda kv: -kv[1])[:8]
    detail = ", ".join(f"{name} {n / small_files:.1f}" for name, n in top)
    print(f"  {tool:<8} {total / small_files:6.1f}   ({detail})")
EOF
