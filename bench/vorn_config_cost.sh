#!/usr/bin/env bash
# vorn_config_cost.sh [BUILD_DIR]: the whole-process cost of one typical vorn-config query,
#   vorn-config --cxxflags --ldflags --libs all
# beside a minimal C program that prints one line (the floor) and pkgconf answering
# "--cflags --libs" for a typical .pc file. The figure that counts is the number of user-space
# instructions from exec to exit, dynamic loading included, counted by callgrind (the same from
# run to run); mean wall time and peak resident memory of the same runs stand beside it.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
tool=$build/stage/vorn/bin/vorn-config
[ -x "$tool" ] || { echo "vorn_config_cost.sh: no staged vorn-config under $build (build it first)" >&2; exit 1; }
for t in valgrind pkgconf gcc; do
  command -v "$t" >/dev/null || { echo "vorn_config_cost.sh: $t is needed" >&2; exit 1; }
done
runs=${VORN_BENCH_RUNS:-200}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/floor.c" <<'EOF'
#include <stdio.h>
int main(void) { puts("-I/usr/include"); return 0; }
EOF
# The floor is built for the same machine as the tool (its ELF class: 1 for 32-bit, 2 for 64-bit).
case "$(od -An -tx1 -j4 -N1 "$tool" | tr -d ' ')" in
  01) floor_arch=-m32 ;;
  *) floor_arch= ;;
esac
gcc $floor_arch -O2 "$work/floor.c" -o "$work/floor"

# measure N PROGRAM ARGS...: runs the program N times with standard output on /dev/null and
# prints the mean wall time in microseconds and the largest peak resident set in KiB.
cat >"$work/measure.c" <<'EOF'
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
int main(int argc, char **argv) {
  int n = atoi(argv[1]);
  double total = 0;
  long peak = 0;
  for (int i = 0; i < n; ++i) {
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open("/dev/null", O_WRONLY);
      dup2(fd, 1);
      execv(argv[2], argv + 2);
      _exit(127);
    }
    int status;
    struct rusage ru;
    if (wait4(pid, &status, 0, &ru) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      fprintf(stderr, "measure: %s failed\n", argv[2]);
      return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &b);
    total += (b.tv_sec - a.tv_sec) * 1e6 + (b.tv_nsec - a.tv_nsec) / 1e3;
    if (ru.ru_maxrss > peak) peak = ru.ru_maxrss;
  }
  printf("%.0f %ld\n", total / n, peak);
  return 0;
}
EOF
gcc -O2 "$work/measure.c" -o "$work/measure"

mkdir -p "$work/pc"
cat >"$work/pc/demo.pc" <<'EOF'
prefix=/usr
exec_prefix=${prefix}
libdir=${exec_prefix}/lib/i386-linux-gnu
includedir=${prefix}/include

Name: demo
Description: A typical library description
Version: 1.2.13
URL: https://example.invalid/demo
Requires:
Libs: -L${libdir} -ldemo
Libs.private: -lm
Cflags: -I${includedir}/demo -DDEMO_SHARED
EOF
pkgconf_bin=$(command -v pkgconf)

instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}

declare -A ins wall rss
ins[floor]=$(instructions "$work/floor")
ins[vorn-config]=$(instructions "$tool" --cxxflags --ldflags --libs all)
ins[pkgconf]=$(PKG_CONFIG_PATH=$work/pc instructions "$pkgconf_bin" --cflags --libs demo)
read -r wall[floor] rss[floor] < <("$work/measure" "$runs" "$work/floor")
read -r wall[vorn-config] rss[vorn-config] < <("$work/measure" "$runs" "$tool" --cxxflags --ldflags --libs all)
read -r wall[pkgconf] rss[pkgconf] < <(PKG_CONFIG_PATH=$work/pc "$work/measure" "$runs" "$pkgconf_bin" --cflags --libs demo)

# The summary table, in the format of RatioTable in bench/TimeRecorder.h (keep the two alike). Its
# rows have one anchor: the size and the second anchor's columns read "-".
line() { printf '| %-30s %9s %12s  %-26s %12s  %-10s %12s  %11s  %13s  %-12s  %-8s  %s\n' "$@"; }
# row LABEL OURS ANCHOR_NAME ANCHOR UNIT GOAL: ours against the anchor's figure of the same unit,
# with the goal for ours / anchor ("<= X.XX", "< X.XX" or "-").
row() {
  local fields figure figure_anchor ratio result
  fields=$(awk -v o="$2" -v a="$4" -v u="$5" -v g="$6" -v n="$3" '
    function figure(v) { return sprintf(v < 10 ? "%.2f %s" : v < 1000 ? "%.1f %s" : "%.0f %s", v, u) }
    BEGIN {
      r = o / a
      split(g, goal, " ")
      result = g == "-" ? "-" : (goal[1] == "<=" ? r <= goal[2] + 0 : r < goal[2] + 0) ? "met" : "NOT met: " n
      printf "%s\t%s\t%s\t%s\n", figure(o), figure(a), sprintf(r < 0.1 ? "%.2g" : "%.2f", r), result
    }')
  IFS=$'\t' read -r figure figure_anchor ratio result <<<"$fields"
  line "$1" - "$figure" "$3" "$figure_anchor" - - "$ratio" - "$6" - "$result"
}

echo
echo "Summary, whole-process cost of one query (instructions: callgrind, exec to exit; wall time: mean of $runs runs):"
line what size ours anchor "its figure" "anchor 2" "its figure" ours/anchor "ours/anchor 2" goal "goal 2" \
  "result   (ratios are ours over the anchor: below 1, ours is faster or smaller)"
v=vorn-config
row "$v instructions" "${ins[$v]}" floor "${ins[floor]}" ins "<= 2.00"
row "$v instructions" "${ins[$v]}" pkgconf "${ins[pkgconf]}" ins "< 1.00"
row "$v wall time" "${wall[$v]}" floor "${wall[floor]}" us -
row "$v wall time" "${wall[$v]}" pkgconf "${wall[pkgconf]}" us -
row "$v peak RSS" "${rss[$v]}" floor "${rss[floor]}" KiB "<= 1.10"
row "$v peak RSS" "${rss[$v]}" pkgconf "${rss[pkgconf]}" KiB -
