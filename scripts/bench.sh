#!/usr/bin/env bash
# Runs every benchmark of the normal build (they print our figure beside the anchor's, as a ratio).
# bench.sh [NAME...]: only the named ones (e.g. strview_bench).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
bash scripts/build.sh normal
names=("$@")
if [ "${#names[@]}" -eq 0 ]; then
  for src in bench/*.cpp bench/*.sh; do
    [ -e "$src" ] || continue
    names+=("$(basename "${src%.*}")")
  done
fi
for name in "${names[@]}"; do
  echo "== $name"
  if [ -f "bench/$name.sh" ]; then
    bash "bench/$name.sh" "$PWD/build"
  else
    "build/bench/$name" --benchmark_counters_tabular=true
  fi
done
