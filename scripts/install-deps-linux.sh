#!/usr/bin/env bash
# Installs only the Debian packages the Linux build of the library, qg and
# the setup program need (scripts/install-deps.sh installs everything the
# tests and the Windows builds need too).  Idempotent.
set -euo pipefail
exec "$(dirname "$0")/install-deps.sh" --only build-essential cmake pkg-config python3 \
  zlib1g-dev libcli11-dev libssl-dev libsodium-dev
