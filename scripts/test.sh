#!/usr/bin/env bash
# Builds the project twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRZ_TESTS=ON -DRZ_BENCH=ON -DRZ_WERROR=$werror
cmake --build build/release -j"$jobs"
(cd build/release && ctest --output-on-failure -j"$jobs")
scripts/check-install.sh build/release
if [ -x build/release/bench/rz_bench ]; then
  # Smoke run only: small inputs, no timing verdict.
  build/release/bench/rz_bench --smoke
fi

cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DRZ_SANITIZE=ON -DRZ_WERROR=$werror
cmake --build build/sanitize -j"$jobs"
# The archives of up to 4 GiB (label bigfile) are decoded in the plain build.
(cd build/sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs" -LE bigfile)

# 32-bit Linux: the library and its suites with the data model of the 32-bit
# DLL (32-bit size_t, long and pointers), run through qemu-i386, since the
# kernel of the CI machines runs no 32-bit programs.  The big-file tests are
# left out: under the emulator they would take most of CI's time.
# The setup program is left out there (no 32-bit crypto libraries), so the
# tests that start qg use the native one built above.
cmake --preset linux-i386 -DRZ_WERROR=$werror -DRZ_QG_FOR_TESTS="$PWD/build/release/tools/qg" >/dev/null
cmake --build --preset linux-i386 -j"$jobs"
(cd build/i386 && ctest --output-on-failure -j"$jobs" -LE bigfile)

# Windows: both DLLs, the i686 export table, the Win32 suite under wine64 and
# the host extraction compared with Linux (reuses the qg built above).
RZ_QG="$PWD/build/release/tools/qg" scripts/windows.sh
