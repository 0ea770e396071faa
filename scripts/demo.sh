#!/usr/bin/env bash
# The main job on the built-in example: pack samples/demo into an archive,
# list it, and extract it when the build has extraction.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$(nproc 2>/dev/null || echo 2)" --target qg
qg=build/release/tools/qg
out=build/demo
rm -rf "$out" && mkdir -p "$out"
"$qg" pack samples/demo -o "$out/demo.qg" --level 9
"$qg" list "$out/demo.qg"
if "$qg" extract --help >/dev/null 2>&1; then
  "$qg" extract "$out/demo.qg" -d "$out/extracted"
  diff -r samples/demo "$out/extracted" && echo "extracted tree matches samples/demo"
fi
