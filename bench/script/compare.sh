#!/bin/sh
# Runs rz_script_bench with the script services of this tree and of another
# revision, in one run, and checks that both leave the same registry store
# and install log, byte for byte.
#
#   bench/script/compare.sh REVISION [ITEMS]
#
# REVISION is any git revision (for example the commit before a change to
# the profile reader or the store); ITEMS defaults to 2000.  Both builds are
# compiled the same way (g++ -O2, the script and platform sources only).
set -eu
rev=${1:?usage: compare.sh REVISION [ITEMS]}
items=${2:-2000}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build() { # build NAME SOURCE_TREE
  mkdir -p "$work/$1/obj"
  for f in "$2"/src/script/*.cpp "$2"/src/platform/*.cpp "$2"/src/platform/posix/*.cpp; do
    g++ -std=c++20 -O2 -DRZ_BUILDING -I"$2/include" -I"$2/src" -c "$f" \
      -o "$work/$1/obj/$(basename "$f" .cpp).o"
  done
  ar rcs "$work/$1/libscript.a" "$work/$1"/obj/*.o
  g++ -std=c++20 -O2 -I"$2/include" "$root/bench/script/script_bench.cpp" \
    "$work/$1/libscript.a" -o "$work/$1/bench"
}

mkdir -p "$work/old-tree"
git -C "$root" archive "$rev" src include | tar -x -C "$work/old-tree"
build new "$root"
build old "$work/old-tree"

mkdir -p "$work/new/out" "$work/old/out"
echo "== this tree"
"$work/new/bench" --items "$items" --rounds 1 --keep "$work/new/out"
echo "== $rev"
"$work/old/bench" --items "$items" --rounds 1 --keep "$work/old/out"

status=0
for f in registry.reg install.log; do
  if cmp -s "$work/new/out/$f" "$work/old/out/$f"; then
    echo "$f: identical ($(wc -c < "$work/new/out/$f") bytes)"
  else
    echo "$f: DIFFERENT"
    status=1
  fi
done
exit $status
