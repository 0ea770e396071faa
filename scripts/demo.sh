#!/usr/bin/env bash
# The main job: build the demo installer from samples/setup, install it
# unattended into a temporary folder, show what it installed (files, the
# registry store's entries, the shortcut), and uninstall it again.
# Everything it makes stays below build/demo: HOME and the registry store
# point there for the run, so nothing of the user's is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps-linux.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRZ_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc 2>/dev/null || echo 2)" --target qg qg-setup
qg=$root/build/release/tools/qg

work=$root/build/demo
rm -rf "$work" && mkdir -p "$work/src" "$work/home"
# git keeps no empty folders: the payload's empty one is made here.
cp -a samples/setup/payload "$work/src/payload"
mkdir -p "$work/src/payload/share/empty"
cp samples/setup/setup.ini samples/setup/LICENSE.txt "$work/src/"

step() { printf '\n== %s\n' "$*"; }

step "Packing the installer"
"$qg" pack "$work/src/payload" -o "$work/raziza-demo.run" --setup "$work/src/setup.ini"
ls -l "$work/raziza-demo.run"

export HOME=$work/home
export XDG_DATA_HOME=$work/home/.local/share
export RAZIZA3Z_REGISTRY=$work/registry.reg
target=$work/installed

step "What it carries"
"$work/raziza-demo.run" --info
"$work/raziza-demo.run" --list

step "Installing unattended into $target"
"$work/raziza-demo.run" --silent --accept-license --target "$target" --log "$work/install.log"

step "Installed files"
(cd "$target" && find . -path ./.qg-setup -prune -o -printf '%M %10s  %p  %l\n' | sort -k3)
step "Registry store entries"
"$qg" reg get HKCU 'Software\Raziza Demo' InstallDir
"$qg" reg get HKCU 'Software\Raziza Demo' Docs
"$qg" reg get HKCU 'Software\Microsoft\Windows\CurrentVersion\Uninstall\Raziza Demo' UninstallString
step "The shortcut"
cat "$HOME/.local/share/applications/raziza-demo.desktop"
step "Installed products"
"$target/uninstall" --installed

step "Uninstalling"
"$target/uninstall" --silent
if [ -e "$target" ]; then
  echo "left behind:" && find "$target"
  exit 1
fi
echo "the target folder is gone; the install log is $work/install.log"
