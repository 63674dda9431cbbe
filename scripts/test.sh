#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every test in three
# variants: the i686 release build, the i686 build with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the native (x86-64) build of the support library and vorn-config.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
for variant in normal asan native; do
  case "$variant" in
    normal) dir=build ;;
    asan) dir=build-asan ;;
    native) dir=build-native ;;
  esac
  echo "== $variant build ($dir)"
  bash scripts/build.sh "$variant"
  echo "== $variant tests"
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
done
