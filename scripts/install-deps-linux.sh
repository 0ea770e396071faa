#!/usr/bin/env bash
# Installs only the Debian packages the Linux build of the library, qg and
# the setup program need (scripts/install-deps.sh installs everything the
# tests and the Windows builds need too).  Idempotent.
set -euo pipefail
packages=(
  build-essential cmake pkg-config python3
  zlib1g-dev libcli11-dev libssl-dev libsodium-dev
)
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
