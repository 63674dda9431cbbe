#!/usr/bin/env bash
# Runs every benchmark (they print our figure beside the anchor's, as a ratio).
# bench.sh [NAME...]: only the named ones (e.g. strview_bench).
# On a machine that runs 32-bit programs natively the benchmarks of the i686 build run; where they
# would run only under emulation, whose timings mean nothing, those of the native build run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh >/dev/null
if [ "$(bash scripts/machine-kind.sh)" = native ]; then
  variant=normal dir=build
  echo "bench: the i686 build, run natively"
else
  variant=native dir=build-native
  echo "bench: this machine runs 32-bit programs only under emulation: measuring the native build ($(uname -m))"
fi
bash scripts/build.sh "$variant"
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
    bash "bench/$name.sh" "$PWD/$dir"
  else
    "$dir/bench/$name" --benchmark_counters_tabular=true
  fi
done
