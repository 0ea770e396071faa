#!/usr/bin/env bash
# Installs every Debian package the build, the tools and the tests need.
# Idempotent: packages already present are skipped.  Packages named on the
# command line are installed as well (scripts/fuzz.sh asks for clang); with
# --only, just those (the Linux-only set of the demo, a benchmark's peers).
set -euo pipefail
packages=(
  build-essential cmake pkg-config git python3
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb libx11-6 libxext6 libxrender1 libxrandr2 libxi6 libxcursor1 libxfixes3 libxinerama1 libxcomposite1
  zlib1g-dev libcli11-dev attr libdeflate-dev libssl-dev libsodium-dev openssl osslsigncode
  g++-multilib lib32z1-dev qemu-user
  liblnk-utils desktop-file-utils
  mingw-w64-tools libwine-dev
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 libz-mingw-w64-dev libgcrypt-mingw-w64-dev
  wine64 netbase
  "$@"
)
if [ "${1:-}" = "--only" ]; then
  shift
  packages=("$@")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
