#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every test twice, in the
# normal build and in the AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
for variant in normal asan; do
  dir=build; [ "$variant" = asan ] && dir=build-asan
  echo "== $variant build ($dir)"
  bash scripts/build.sh "$variant"
  echo "== $variant tests"
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
done
