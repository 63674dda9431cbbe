#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every test in three
# variants: the i686 release build, the i686 build with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the native (x86-64) build of the support library and vorn-config.
# A fourth, the native build with ThreadSanitizer, runs the cases that start threads or take the
# locks for real (below).
set -euo pipefail
cd "$(dirname "$0")/.."

# The ThreadSanitizer cases, all in the programs that "build.sh tsan" builds (test_runtime,
# test_process, test_text, test_streams, test_apint): the atomics, the locks (also the
# process-wide one), the thread runner and the lazily built statics; pools on several threads;
# the signal clean-up, whose handler takes the module's lock, in single- and multithreaded
# processes; the first use of the process object, of the hash seed and of APInt's powers of ten
# from several threads; the standard error stream written from two threads.
tsan_tests='^(Atomics|Mutexes|RunOnThread|LazyStatic|BumpAllocator|SignalCleanup|Modes/SecondSignal)\.'
tsan_tests+='|^CurrentProcess\.OneObjectWithThePageSizeAndId$'
tsan_tests+='|^HashSeed\.FirstUseFromEightThreadsFixesOneSeed$'
tsan_tests+='|^StdStreams\.StderrWrittenFromTwoThreadsAtOnce$'
tsan_tests+='|^APIntText\.DecimalPowersFirstUsedFromEightThreads$'
# A report ends the reporting process at once (status 66): also a forked child or a helper
# program, whose captured standard error a test may not look at, then fails its test. What the
# checker sees depends on how the threads met, so each case runs three times (a few seconds).
tsan_options=halt_on_error=1:second_deadlock_stack=1

bash scripts/bootstrap.sh
for variant in normal asan native tsan; do
  case "$variant" in
    normal) dir=build ;;
    asan) dir=build-asan ;;
    native) dir=build-native ;;
    tsan) dir=build-tsan ;;
  esac
  echo "== $variant build ($dir)"
  bash scripts/build.sh "$variant"
  echo "== $variant tests"
  if [ "$variant" = tsan ]; then
    TSAN_OPTIONS=$tsan_options \
      ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --no-tests=error -R "$tsan_tests" \
        --repeat until-fail:3
  else
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
  fi
done
