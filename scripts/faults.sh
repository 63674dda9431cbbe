#!/usr/bin/env bash
# faults.sh [--build-dir DIR] [DRIVER OPTIONS...]: the failure-point enumeration
# (tests/faults/driver.cpp). Every scenario (vorn-config, quillet, jobs of the support library) is
# run once to count its C library calls, then once per (function, call index, way of failing)
# with exactly that call failing, and every outcome is checked. Prints per scenario the points
# tried and their outcomes and every violation with its replay command, and ends with
# "N failure points, M violations"; the status is 0 only when M is 0.
#
# Where this machine runs 32-bit programs itself, everything runs in the i686 sanitized build
# (build-asan, built first with build.sh asan), with leak checks in the library scenarios. Where
# they run under emulation only, the library and vorn-config scenarios run in the native build
# (build-native: no sanitizer, no leak check) and quillet's in the i686 sanitized build under the
# emulator; where they do not run at all, quillet's are left out.
#
# --build-dir DIR uses the configured build DIR as it is (building only the driver and what it
# needs there) instead. DRIVER OPTIONS go to the driver: --cap N (first calls tried per function,
# 40), --samples K (later calls tried, 10), --scenario NAME (repeatable; a prefix such as
# "library" selects a group), --list.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=""
options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir)
      [ $# -ge 2 ] || { echo "faults.sh: --build-dir needs a directory" >&2; exit 2; }
      build_dir=$2
      shift 2 ;;
    *) options+=("$1"); shift ;;
  esac
done

# runs[i]: "BUILD_DIR|SCENARIO PREFIXES (empty: all)"
runs=()
if [ -n "$build_dir" ]; then
  cmake --build "$build_dir" -j 2 --target fault_driver -- --no-print-directory >/dev/null
  runs+=("$build_dir|")
else
  kind=$(bash scripts/machine-kind.sh)
  case "$kind" in
    native)
      bash scripts/build.sh asan
      runs+=("build-asan|") ;;
    emulated)
      bash scripts/build.sh native
      bash scripts/build.sh asan
      runs+=("build-native|vorn-config library" "build-asan|quillet") ;;
    *)
      echo "faults.sh: this machine runs no 32-bit programs: quillet's scenarios are left out"
      bash scripts/build.sh native
      runs+=("build-native|vorn-config library") ;;
  esac
fi

points=0
violations=0
for run in "${runs[@]}"; do
  dir=${run%%|*}
  groups=${run#*|}
  args=("${options[@]}")
  # Groups chosen here apply only when the caller chose no scenario of its own.
  if [ -n "$groups" ] && [[ " ${options[*]} " != *" --scenario "* ]]; then
    for group in $groups; do args+=(--scenario "$group"); done
  fi
  if [[ " ${options[*]} " == *" --list "* ]]; then
    "$dir/tests/faults/fault_driver" --list
    continue
  fi
  echo "== failure points in $dir"
  log=$(mktemp)
  set +e
  "$dir/tests/faults/fault_driver" "${args[@]}" | tee "$log" | grep -v -E '^[0-9]+ failure points, [0-9]+ violations$'
  status=${PIPESTATUS[0]}
  set -e
  total=$(grep -E '^[0-9]+ failure points, [0-9]+ violations$' "$log" | tail -n 1 || true)
  rm -f "$log"
  if [ -z "$total" ]; then
    echo "faults.sh: the driver of $dir ended with status $status before its total" >&2
    exit 2
  fi
  points=$((points + ${total%% *}))
  rest=${total#*, }
  violations=$((violations + ${rest%% *}))
done

[[ " ${options[*]} " == *" --list "* ]] && exit 0
echo "$points failure points, $violations violations"
[ "$violations" -eq 0 ]
