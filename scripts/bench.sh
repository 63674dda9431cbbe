#!/usr/bin/env bash
# Runs every benchmark (each ends with a summary table: our figure beside those of one or two
# anchors, the ratio ours / anchor and the goal for each), then prints the rows of all those tables
# again as one.
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
# Each program's output is kept, for the summary rows (the lines that begin with "| ", see
# bench/TimeRecorder.h). The output reaches the terminal through tee, so colour is asked for
# explicitly when there is one.
outputs=$(mktemp -d)
trap 'rm -rf "$outputs"' EXIT
colour=()
if [ -t 1 ] && [ "${TERM:-dumb}" != dumb ]; then colour=(--benchmark_color=true); fi
for name in "${names[@]}"; do
  echo "== $name"
  if [ -f "bench/$name.sh" ]; then
    bash "bench/$name.sh" "$PWD/$dir"
  else
    "$dir/bench/$name" --benchmark_counters_tabular=true ${colour[@]+"${colour[@]}"}
  fi | tee "$outputs/$name"
done

# Every program's first marked line is the table's header, the same in all of them.
header=
for name in "${names[@]}"; do
  [ -n "$header" ] || header=$(grep -m1 '^| ' "$outputs/$name" || true)
done
[ -n "$header" ] || exit 0
echo
echo "== all summaries"
echo "$header"
for name in "${names[@]}"; do
  rows=$(grep '^| ' "$outputs/$name" | grep -vxF -- "$header" || true)
  [ -n "$rows" ] || continue
  echo "| [$name]"
  echo "$rows"
done
