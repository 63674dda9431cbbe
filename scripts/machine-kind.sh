#!/usr/bin/env bash
# machine-kind.sh: prints what this machine does with 32-bit x86 programs:
#   native    it runs them itself
#   emulated  they run, but under a user-mode emulator (qemu-i386 through binfmt_misc)
#   none      they cannot run
# A tiny program prints the machine name that the kernel reports to it. Run natively it says
# what the kernel says to every program (x86_64 on an x86-64 kernel); an emulator answers with
# its own (i686). Needs gcc with -m32 support (g++-multilib).
set -uo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf '%s\n' '#include <stdio.h>' '#include <sys/utsname.h>' \
  'int main(void) { struct utsname u; if (uname(&u)) return 1; puts(u.machine); return 0; }' >"$dir/probe.c"
if ! gcc -m32 "$dir/probe.c" -o "$dir/probe" 2>"$dir/gcc.log"; then
  cat "$dir/gcc.log" >&2
  echo "machine-kind.sh: cannot build a 32-bit program (is g++-multilib installed?)" >&2
  exit 1
fi
if ! seen=$("$dir/probe" 2>/dev/null); then
  echo none
elif [ "$seen" = "$(uname -m)" ]; then
  echo native
else
  echo emulated
fi
