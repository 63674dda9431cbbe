#!/usr/bin/env bash
# stress.sh [TARGET] [SECONDS]: runs one stress target (or all of them, one after the other) with
# fresh seeds for SECONDS each (default 60), at the lowest priority, and prints for each the seed,
# the inputs run and the rate. TARGET is a program name without its "stress-" prefix
# (text-numbers, paths, launcher-catalogue, ...), or quillet-zzuf for the black-box mutation of
# the staged quillet; "list" lists them.
#
# The targets run in a build with AddressSanitizer and UndefinedBehaviorSanitizer: the i686 one
# (build-asan-stress/) where 32-bit programs run natively, else the native x86-64 one
# (build-native-stress/), which holds every target but quillet-zzuf. quillet-zzuf always needs
# the i686 build (and runs under emulation where there is no other way).
# A failing input is saved in stress-failures/ with the command that replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
target=${1:-all}
seconds=${2:-60}
targets=(text-numbers text-split text-compare text-levenshtein paths strhashmap apint-ops apint-text
         launcher-options launcher-catalogue launcher-version vorn-config)
if [ "$target" = list ]; then
  printf '%s\n' "${targets[@]}" quillet-zzuf
  exit 0
fi
if [ "$target" != all ] && [ "$target" != quillet-zzuf ] && ! printf '%s\n' "${targets[@]}" | grep -qx -- "$target"; then
  echo "stress.sh: unknown target '$target' (stress.sh list names them)" >&2
  exit 2
fi
case "$seconds" in '' | *[!0-9]*) echo "stress.sh: SECONDS must be a number" >&2; exit 2 ;; esac

kind=$(bash scripts/machine-kind.sh)
if [ "$kind" = native ]; then
  dir=build-asan-stress
  flags=(-DVORN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
else
  dir=build-native-stress
  # Optimised, with the callers' obligations still checked (no NDEBUG).
  flags=(-DVORN_NATIVE=ON -DVORN_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
         "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g")
fi
# Leaks are looked for where the leak checker works (not under emulation); a report aborts, so
# that the failing input is saved.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export STRESS_SAVE_DIR=$root/stress-failures
mkdir -p "$STRESS_SAVE_DIR"

run_zzuf() {
  local i686=build-asan-stress
  cmake -S . -B "$i686" -DVORN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$i686" --target stage -j "$(nproc)" -- --no-print-directory >/dev/null
  # Under emulation the leak checker cannot stop the threads it must stop.
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 nice -n 19 \
    bash stress/quillet_zzuf.sh --stage "$i686/stage/tesk" --seconds "$seconds" --save-dir "$STRESS_SAVE_DIR"
}

if [ "$target" = quillet-zzuf ]; then
  run_zzuf
  exit
fi

run=("${targets[@]}")
[ "$target" = all ] || run=("$target")
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" --target "${run[@]/#/stress-}" -j "$(nproc)" -- --no-print-directory >/dev/null
status=0
for t in "${run[@]}"; do
  nice -n 19 "$dir/stress/stress-$t" --seconds "$seconds" || status=1
done
if [ "$target" = all ]; then
  run_zzuf || status=1
fi
exit $status
