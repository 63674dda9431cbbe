#!/usr/bin/env bash
# build.sh [normal|asan|native|tsan]: configures and builds one variant of the project, warnings
# as errors.
#   normal -> build/         the i686 release build, as a packager ships it
#   asan   -> build-asan/    i686 with AddressSanitizer + UndefinedBehaviorSanitizer (Debug)
#   native -> build-native/  the support library, vorn-config, their tests and the benchmarks
#                            for the build machine itself (x86-64)
#   tsan   -> build-tsan/    the native build with ThreadSanitizer (Debug); only the test programs
#                            whose cases start threads or take the locks (scripts/test.sh runs
#                            those cases)
set -euo pipefail
cd "$(dirname "$0")/.."
variant=${1:-normal}
targets=()
case "$variant" in
  normal) dir=build; flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan) dir=build-asan; flags=(-DVORN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  native) dir=build-native; flags=(-DVORN_NATIVE=ON -DCMAKE_BUILD_TYPE=Release) ;;
  tsan)
    dir=build-tsan
    flags=(-DVORN_NATIVE=ON -DVORN_TSAN=ON -DCMAKE_BUILD_TYPE=Debug)
    targets=(--target test_runtime test_process test_text test_streams test_apint) ;;
  *) echo "build.sh: unknown variant '$variant' (normal, asan, native or tsan)" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" "${flags[@]}" -DVORN_WERROR=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}" -- --no-print-directory
