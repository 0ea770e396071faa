#!/usr/bin/env bash
# System calls per extracted file: `qg extract` against bsdtar and unzip on
# the same generated tree (a few thousand small files in nested folders),
# counted with `strace -f -c`.  Prints calls per file for each tool, the
# ratios against qg, and qg's calls per file by kind.  Then the wall time of
# the same extractions (medians of RUNS, default 5), `qg extract -j 2` and
# `qg test` with and without -j 2 included, as ratios against bsdtar and
# unzip -t in the same run.
#
#   bench/syscalls.sh [QG] [FILES]
#
# QG defaults to build/rel/tools/qg (or $RZ_QG); FILES to 3000.  The tree is
# made from a fixed seed, so every machine counts the same tree.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
qg=${1:-${RZ_QG:-$here/build/rel/tools/qg}}
files=${2:-3000}
[ -x "$qg" ] || { echo "no qg at $qg (build first, or pass its path)" >&2; exit 2; }

# The peers and the counter, from Debian.
need=()
for pair in strace:strace bsdtar:libarchive-tools unzip:unzip zip:zip python3:python3; do
  command -v "${pair%%:*}" >/dev/null || need+=("${pair#*:}")
done
[ ${#need[@]} -gt 0 ] && "$(dirname "$0")/../scripts/install-deps.sh" --only "${need[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Text-like files of 100 bytes to 8 KiB, 25 to a folder, two levels deep.
python3 - "$work/tree" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(20261211)
words = [''.join(rng.choice('etaoinshrdlucmfwypvbgkjqxz') for _ in range(rng.randint(2, 9)))
         for _ in range(2000)]
for i in range(count):
    folder = os.path.join(root, 'd%02d' % (i // 250), 's%02d' % (i // 25 % 10))
    os.makedirs(folder, exist_ok=True)
    size = int(100 * (80 ** rng.random()))
    text = []
    n = 0
    while n < size:
        w = rng.choice(words[:rng.choice((50, 400, 2000))])
        text.append(w)
        n += len(w) + 1
    with open(os.path.join(folder, 'f%05d.txt' % i), 'w') as f:
        f.write(' '.join(text)[:size] + '\n')
PY

(cd "$work" && "$qg" pack tree -o tree.qg >/dev/null)
(cd "$work/tree" && zip -q -r -9 ../tree.zip .)

# Total system calls of one command, children included.
calls() {
  local log=$1
  shift
  strace -f -c -o "$log" "$@" >/dev/null 2>&1
  awk '$NF == "total" { print $4 }' "$log"
}

rm -rf "$work/x1" "$work/x2" "$work/x3"
mkdir -p "$work/x1" "$work/x2" "$work/x3"
qg_calls=$(calls "$work/qg.log" "$qg" extract "$work/tree.qg" -d "$work/x1")
tar_calls=$(calls "$work/tar.log" bsdtar -xf "$work/tree.zip" -C "$work/x2")
unzip_calls=$(calls "$work/unzip.log" unzip -q "$work/tree.zip" -d "$work/x3")

diff -r "$work/tree" "$work/x1" >/dev/null || { echo "qg extract gave another tree" >&2; exit 1; }

per_file() { awk -v c="$1" -v n="$files" 'BEGIN { printf "%.2f", c / n }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "tree: $files files, $(du -sk "$work/tree" | cut -f1) KiB; system calls per extracted file"
printf '  %-22s %8s calls  %6s per file\n' "qg extract" "$qg_calls" "$(per_file "$qg_calls")"
printf '  %-22s %8s calls  %6s per file  (%sx qg)\n' "bsdtar -xf (zip)" "$tar_calls" \
  "$(per_file "$tar_calls")" "$(ratio "$tar_calls" "$qg_calls")"
printf '  %-22s %8s calls  %6s per file  (%sx qg)\n' "unzip (zip)" "$unzip_calls" \
  "$(per_file "$unzip_calls")" "$(ratio "$unzip_calls" "$qg_calls")"
echo "qg extract, calls per file by kind:"
awk -v n="$files" '$1 ~ /^[0-9.]+$/ && $NF != "total" { c = $4; printf "  %-16s %6.2f\n", $NF, c / n }' \
  "$work/qg.log" | sort -k2 -rn | awk '$2 >= 0.01'

# Wall time, medians of several runs, as ratios against the peers.
runs=${RUNS:-5}
median() {
  local out=$1
  shift
  local times=()
  for _ in $(seq "$runs"); do
    rm -rf "$out"
    mkdir -p "$out"
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
t_qg=$(median "$work/t1" "$qg" extract "$work/tree.qg" -d "$work/t1")
t_qg2=$(median "$work/t2" "$qg" extract "$work/tree.qg" -d "$work/t2" -j 2)
t_tar=$(median "$work/t3" bsdtar -xf "$work/tree.zip" -C "$work/t3")
t_test=$(median "$work/t4" "$qg" test "$work/tree.qg")
t_test2=$(median "$work/t4" "$qg" test "$work/tree.qg" -j 2)
t_unzipt=$(median "$work/t4" unzip -tq "$work/tree.zip")
echo "wall time, medians of $runs (seconds; ratio = peer time / qg time)"
printf '  %-26s %7s   %sx bsdtar -xf (%s s)\n' "qg extract" "$t_qg" "$(ratio "$t_tar" "$t_qg")" "$t_tar"
printf '  %-26s %7s   %sx bsdtar -xf\n' "qg extract -j 2" "$t_qg2" "$(ratio "$t_tar" "$t_qg2")"
printf '  %-26s %7s   %sx unzip -t (%s s)\n' "qg test" "$t_test" "$(ratio "$t_unzipt" "$t_test")" "$t_unzipt"
printf '  %-26s %7s   %sx unzip -t\n' "qg test -j 2" "$t_test2" "$(ratio "$t_unzipt" "$t_test2")"
