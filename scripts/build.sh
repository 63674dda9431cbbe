#!/usr/bin/env bash
# build.sh [normal|asan]: configures (once) and builds one variant of the project.
# normal -> build/, asan -> build-asan/ (AddressSanitizer + UndefinedBehaviorSanitizer).
set -euo pipefail
cd "$(dirname "$0")/.."
variant=${1:-normal}
case "$variant" in
  normal) dir=build; flags=() ;;
  asan) dir=build-asan; flags=(-DVORN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  *) echo "build.sh: unknown variant '$variant' (normal or asan)" >&2; exit 2 ;;
esac
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" -- --no-print-directory
