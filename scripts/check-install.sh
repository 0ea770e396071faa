#!/usr/bin/env bash
# Installs a build into a staging prefix and builds a host program against
# it with find_package and with pkg-config; the program walks an archive.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
stage=$PWD/$build/stage
rm -rf "$stage" "$build/consumer"
cmake --install "$build" --prefix "$stage" >/dev/null
PKG_CONFIG_PATH="$stage/lib/pkgconfig" cmake -S tests/install -B "$build/consumer" -DCMAKE_PREFIX_PATH="$stage" \
  -DCMAKE_BUILD_RPATH="$stage/lib" >/dev/null
cmake --build "$build/consumer" >/dev/null
"$stage/bin/qg" pack samples/demo -o "$build/consumer/demo.qg" >/dev/null
for program in consumer_cmake consumer_pkgconfig; do
  LD_LIBRARY_PATH="$stage/lib" "$build/consumer/$program" "$build/consumer/demo.qg" >/dev/null
done
echo "install check passed: find_package and pkg-config hosts walk an archive"
