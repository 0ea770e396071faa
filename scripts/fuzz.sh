#!/usr/bin/env bash
# Runs one fuzz target with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer for a number of minutes:
#
#   scripts/fuzz.sh TARGET MINUTES      e.g. scripts/fuzz.sh archive 30
#
# TARGET names tests/fuzz/TARGET_fuzz.cpp, whose CMake target is
# fuzz_TARGET.  The build goes to build/fuzz-clang; the seed corpus
# (tests/fuzz/corpus/TARGET) is copied to a scratch corpus in
# build/fuzz-clang/run-TARGET/corpus, which the fuzzer grows (the committed
# corpus is never written).  Findings (crash-*, leak-*, timeout-* ...) land
# in build/fuzz-clang/run-TARGET/findings.  At the end the script prints the
# executions, the coverage (cov: edges, ft: features) and the findings.
#
# Environment: RZ_FUZZ_JOBS (compile jobs, default 2), RZ_FUZZ_ARGS (more
# libFuzzer options, e.g. "-max_len=8192").
set -euo pipefail
if [ $# -ne 2 ] || ! [[ $2 =~ ^[0-9]+$ ]] || [ "$2" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh TARGET MINUTES" >&2
  exit 2
fi
target=$1
minutes=$2
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ ! -f "tests/fuzz/${target}_fuzz.cpp" ]; then
  echo "fuzz.sh: no tests/fuzz/${target}_fuzz.cpp" >&2
  exit 2
fi

# clang and its runtime libraries (libFuzzer, the sanitizers) from Debian,
# with what the build needs.
scripts/install-deps.sh clang libclang-rt-dev

# Every object gets the fuzzer's coverage hooks and the sanitizers; only
# the fuzz target's own link pulls in libFuzzer (and its main, which is why
# RZ_LIBFUZZER leaves the replaying main out).  Only the one target is built.
build=build/fuzz-clang
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1 -DRZ_LIBFUZZER"
# Configured twice: CMake's first run links test programs of its own, which
# must not get libFuzzer's main; the second adds it to executables.
mkdir -p "$build"
for link in "-fsanitize=address,undefined" "-fsanitize=fuzzer,address,undefined"; do
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$link" -DRZ_WERROR=OFF -DRZ_BENCH=OFF \
    >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
done
cmake --build "$build" --target "fuzz_$target" -j"${RZ_FUZZ_JOBS:-2}"
program=$(find "$build" -type f -name "fuzz_$target" -perm -u+x | head -1)
[ -n "$program" ] || { echo "fuzz.sh: fuzz_$target was not built" >&2; exit 1; }

run=$root/$build/run-$target
mkdir -p "$run/corpus" "$run/findings"
if [ -d "tests/fuzz/corpus/$target" ]; then
  cp -n "tests/fuzz/corpus/$target"/* "$run/corpus/" 2>/dev/null || true
fi
log=$run/fuzz.log
echo "fuzz.sh: fuzz_$target for $minutes minute(s); log in $log"
status=0
# shellcheck disable=SC2086
(cd "$run" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "$root/$program" -max_total_time=$((minutes * 60)) -print_final_stats=1 \
  -artifact_prefix="$run/findings/" ${RZ_FUZZ_ARGS:-} "$run/corpus") >"$log" 2>&1 || status=$?

echo "== fuzz_$target: last progress line"
grep -E '^#[0-9]+' "$log" | tail -1 || true
echo "== final statistics"
grep -E '^stat::' "$log" || true
echo "== corpus: $(find "$run/corpus" -type f | wc -l) inputs"
findings=$(find "$run/findings" -type f | wc -l)
echo "== findings: $findings"
find "$run/findings" -type f -printf '  %p\n'
if [ "$findings" -gt 0 ] || [ "$status" -ne 0 ]; then
  grep -E 'ERROR|SUMMARY|archive_fuzz:|==[0-9]+==' "$log" | head -20 || true
  echo "fuzz.sh: fuzz_$target stopped with status $status" >&2
  exit 1
fi
