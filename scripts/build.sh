#!/usr/bin/env bash
# build.sh [normal|asan|native]: configures and builds one variant of the project, warnings as
# errors.
#   normal -> build/         the i686 release build, as a packager ships it
#   asan   -> build-asan/    i686 with AddressSanitizer + UndefinedBehaviorSanitizer (Debug)
#   native -> build-native/  the support library, vorn-config, their tests and the benchmarks
#                            for the build machine itself (x86-64)
set -euo pipefail
cd "$(dirname "$0")/.."
variant=${1:-normal}
case "$variant" in
  normal) dir=build; flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan) dir=build-asan; flags=(-DVORN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  native) dir=build-native; flags=(-DVORN_NATIVE=ON -DCMAKE_BUILD_TYPE=Release) ;;
  *) echo "build.sh: unknown variant '$variant' (normal, asan or native)" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" "${flags[@]}" -DVORN_WERROR=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" -- --no-print-directory
