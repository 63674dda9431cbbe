#!/usr/bin/env bash
# demo-toolkit.sh PREFIX: builds the small client program tools/vorn-config/demo/client.cpp against
# the vorn toolkit installed in PREFIX, using nothing but what PREFIX/bin/vorn-config answers for
# --cxxflags, --ldflags and --libs support, and runs it on the toolkit's own files.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: demo-toolkit.sh PREFIX" >&2
  exit 2
fi
prefix=$1
vc=$prefix/bin/vorn-config
src=$(cd "$(dirname "$0")/.." && pwd)/tools/vorn-config/demo/client.cpp
[ -x "$vc" ] || { echo "demo-toolkit.sh: no vorn-config in $prefix/bin" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cxxflags=$("$vc" --cxxflags)
ldflags=$("$vc" --ldflags)
libs=$("$vc" --libs support)
echo "+ ${CXX:-g++} \$(vorn-config --cxxflags) client.cpp -o client \$(vorn-config --ldflags) \$(vorn-config --libs support)"
echo "  --libs support: $libs"
# The answers are word lists: split them as a build script would.
# shellcheck disable=SC2086
"${CXX:-g++}" $cxxflags "$src" -o "$work/client" $ldflags $libs
echo "+ client \$(vorn-config --libfiles support) \$(vorn-config --includedir)"
"$work/client" "$("$vc" --libfiles support)" "$("$vc" --includedir)"
