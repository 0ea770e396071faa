#!/usr/bin/env bash
# Installs a build into a staging prefix and builds a host program against
# it with find_package and with pkg-config; the program walks an archive.
# When the build ships the Windows setup programs (RZ_WINDOWS_STUBS), the
# installed qg packs a Windows installer for each width with --target-os
# windows: a PE file of that machine whose integrity qg verify accepts; with
# wine64 at hand the x86_64 one is installed and uninstalled under it, in a
# Wine prefix in the build folder.
#
# Environment: RZ_INSTALL_JOBS (parallel jobs for the Windows setup
# programs, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
jobs=${RZ_INSTALL_JOBS:-2}
stage=$PWD/$build/stage
rm -rf "$stage" "$build/consumer"
stubs=""
if grep -q '^RZ_WINDOWS_STUBS:BOOL=ON$' "$build/CMakeCache.txt"; then
  stubs=1
  # The install would build them too, one job at a time.
  cmake --build "$build" --target windows-stubs -j"$jobs" >"$build/windows-stubs.log" 2>&1 ||
    { tail -n 40 "$build/windows-stubs.log"; exit 1; }
fi
cmake --install "$build" --prefix "$stage" >/dev/null
PKG_CONFIG_PATH="$stage/lib/pkgconfig" cmake -S tests/install -B "$build/consumer" -DCMAKE_PREFIX_PATH="$stage" \
  -DCMAKE_BUILD_RPATH="$stage/lib" >/dev/null
cmake --build "$build/consumer" >/dev/null
"$stage/bin/qg" pack samples/demo -o "$build/consumer/demo.qg" >/dev/null
for program in consumer_cmake consumer_pkgconfig; do
  LD_LIBRARY_PATH="$stage/lib" "$build/consumer/$program" "$build/consumer/demo.qg" >/dev/null
done
echo "install check passed: find_package and pkg-config hosts walk an archive"

if [ -z "$stubs" ]; then
  echo "install check: this build ships no Windows setup programs (RZ_WINDOWS_STUBS is OFF)"
  exit 0
fi

fail() {
  echo "check-install.sh: $*" >&2
  exit 1
}

# The COFF machine of a PE file in hex ("" when it is none).
pe_machine() {
  local at
  [ "$(head -c 2 "$1")" = MZ ] || return 0
  at=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  [ "$(od -An -c -j "$at" -N 4 "$1" | tr -d ' ')" = 'PE\0\0' ] || return 0
  od -An -tx2 -j $((at + 4)) -N 2 "$1" | tr -d ' '
}

win=$build/consumer/windows
mkdir -p "$win"
printf '[SETUP]\nName=Install Check\nVersion=1\n' >"$win/setup.ini"
for arch_machine in x86_64:8664 i686:014c; do
  arch=${arch_machine%:*}
  [ -f "$stage/share/raziza3z/windows/$arch/qg-setup.exe" ] || fail "no $arch qg-setup.exe installed"
  args=(--target-os windows)
  [ "$arch" = x86_64 ] || args+=(--target-arch "$arch")
  "$stage/bin/qg" pack samples/demo -o "$win/setup-$arch.exe" --setup "$win/setup.ini" "${args[@]}" \
    >/dev/null
  [ "$(pe_machine "$win/setup-$arch.exe")" = "${arch_machine#*:}" ] ||
    fail "setup-$arch.exe is not a PE file for $arch"
  "$stage/bin/qg" verify "$win/setup-$arch.exe" | grep -q ': intact' ||
    fail "qg verify does not accept setup-$arch.exe"
  echo "install check: qg pack ${args[*]} made a PE installer for $arch; qg verify: intact"
done
rc=0
"$stage/bin/qg" pack samples/demo -o "$win/both.exe" --setup "$win/setup.ini" --target-os windows \
  --stub "$stage/bin/qg-setup" >/dev/null 2>&1 || rc=$?
[ "$rc" = 4 ] && [ ! -e "$win/both.exe" ] || fail "--stub with --target-os: status $rc, not 4"

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || true)
if [ -z "$wine" ]; then
  echo "install check: wine64 is missing, the Windows installer was not run"
  exit 0
fi
export WINEPREFIX=$PWD/$build/install-check-wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap '"$(dirname "$wine")/wineserver" -k 2>/dev/null || true' EXIT
[ -f "$WINEPREFIX/system.reg" ] || (cd "$build" && "$wine" wineboot -i >/dev/null 2>&1 || true)
installed=$WINEPREFIX/drive_c/install-check
rm -rf "$installed"
rc=0
(cd "$win" && timeout 300 "$wine" ./setup-x86_64.exe /VERYSILENT '/D=C:\install-check' /NORUN \
  '/LOG=C:\install-check.log') >/dev/null 2>&1 || rc=$?
# Wine may exit 0 when a program did not start: the log has the last word.
tail -n 1 "$WINEPREFIX/drive_c/install-check.log" 2>/dev/null | grep -q 'exit status 0$' && [ "$rc" = 0 ] ||
  fail "setup-x86_64.exe under wine64: status $rc"
diff -r -x .qg-setup -x uninstall.exe samples/demo "$installed"
rc=0
(cd "$win" && timeout 300 "$wine" "$installed/uninstall.exe" /UNINSTALL /VERYSILENT) >/dev/null 2>&1 || rc=$?
[ "$rc" = 0 ] || fail "uninstall.exe under wine64: status $rc"
for _ in $(seq 50); do [ -e "$installed" ] || break; sleep 0.2; done
[ ! -e "$installed" ] || fail "the uninstaller left $installed"
echo "install check: setup-x86_64.exe installed the files under wine64 and uninstalled them"
