#!/usr/bin/env bash
# fresh-machine-check.sh: tries the README's two set-up commands as a new user would, on a freshly
# installed minimal Debian 12. It builds a minbase root with debootstrap (plus git and
# ca-certificates) in a temporary directory, clones this repository's committed HEAD into it, and
# runs "bash scripts/demo.sh" and then "bash scripts/test.sh" there in a chroot. It reports each
# command's status and removes the root and every mount it made, also when interrupted.
#
# Run as root on a Debian machine that reaches Debian's package archive. It takes about half an
# hour and is not part of the test command: run it whenever the bootstrap or the build's
# dependencies change.
#
#   fresh-machine-check.sh [--keep] [--ref REF] [--mirror URL]
#     --keep        leave the root in place (still unmounted) for inspection
#     --ref REF     check out REF instead of HEAD
#     --mirror URL  Debian mirror (default: http://deb.debian.org/debian)
#
# The logs of the three steps go to fresh-machine-logs/ under the repository's top directory.
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
keep=0 ref=HEAD mirror=http://deb.debian.org/debian
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep=1 ;;
    --ref) ref=${2:?--ref needs a value}; shift ;;
    --mirror) mirror=${2:?--mirror needs a value}; shift ;;
    *) echo "fresh-machine-check: unknown argument '$1'" >&2; exit 2 ;;
  esac
  shift
done

if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-machine-check: run this script as root (it uses debootstrap, mount and chroot)" >&2
  exit 1
fi
if ! command -v debootstrap >/dev/null; then
  echo "fresh-machine-check: installing debootstrap" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >/dev/null || {
    echo "fresh-machine-check: cannot install debootstrap" >&2
    exit 1
  }
fi

logs=$top/fresh-machine-logs
mkdir -p "$logs"
work=$(mktemp -d "${TMPDIR:-/var/tmp}/vorn-fresh.XXXXXX")
root=$work/root
mkdir "$root"

# Everything mounted below $root, deepest first.
mounts_below() { findmnt -rn -o TARGET | awk -v r="$root" '$0 == r || index($0, r "/") == 1' | sort -r; }

# Ends the processes that run inside the root, then takes every mount down, then removes the root.
# Never removes anything while a mount remains: /dev is bound in there.
cleaned=0
cleanup() {
  [ "$cleaned" -eq 0 ] || return 0
  cleaned=1
  trap '' INT TERM
  local pid m left
  for signal in TERM KILL; do
    for pid in /proc/[0-9]*; do
      [ "$(readlink "$pid/root" 2>/dev/null)" = "$root" ] && kill -s "$signal" "${pid#/proc/}" 2>/dev/null
    done
    sleep 1
  done
  for m in $(mounts_below); do
    umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null
  done
  left=$(mounts_below)
  if [ -n "$left" ]; then
    echo "fresh-machine-check: could not unmount, leaving $work in place:" >&2
    echo "$left" >&2
    return 1
  fi
  if [ "$keep" -eq 1 ]; then
    echo "fresh-machine-check: the root is kept in $root" >&2
  else
    rm -rf --one-file-system "$work"
  fi
}
trap 'cleanup' EXIT
trap 'echo "fresh-machine-check: interrupted" >&2; exit 130' INT TERM

step() { # step NAME: prints the step's heading
  echo "== $1 ($(date +%H:%M:%S))"
}

# waited COMMAND...: runs the command in the background and waits for it, so that a signal to this
# script is acted on at once (bash defers its traps until a foreground command ends).
waited() {
  "$@" &
  wait $!
}

step "debootstrap: a minimal Debian 12 in $root"
if ! waited debootstrap --variant=minbase --include=git,ca-certificates bookworm "$root" "$mirror" \
    >"$logs/debootstrap.log" 2>&1; then
  tail -20 "$logs/debootstrap.log" >&2
  echo "fresh-machine-check: debootstrap failed (log: $logs/debootstrap.log)" >&2
  exit 1
fi
# The package sources of an ordinary installation: the release, its updates and security fixes.
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

# The root is a mount point of its own (some tests make / private in a mount namespace, which fails
# in a chroot whose root is not one), with the kernel's file systems inside. The host's binfmt
# registration of qemu-i386, where there is one, serves 32-bit programs in there too.
mount --bind "$root" "$root" &&
  mount -t proc proc "$root/proc" &&
  mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev" &&
  mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys" || {
  echo "fresh-machine-check: cannot mount the kernel's file systems in the root" >&2
  exit 1
}

step "clone $ref of $top"
if ! git clone -q --no-local "$top" "$root/root/vorn" >"$logs/clone.log" 2>&1 ||
   ! git -C "$root/root/vorn" checkout -q --detach "$ref" >>"$logs/clone.log" 2>&1; then
  cat "$logs/clone.log" >&2
  echo "fresh-machine-check: cannot clone the repository" >&2
  exit 1
fi
echo "commit $(git -C "$root/root/vorn" rev-parse --short HEAD)"

# run NAME COMMAND: runs the README command in the root, as root, with a clean environment.
declare -A status
run() {
  local name=$1 command=$2 start=$SECONDS
  step "$command"
  waited chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 TERM=dumb /bin/bash -c "cd /root/vorn && $command" >"$logs/$name.log" 2>&1
  status[$name]=$?
  echo "$command: exit status ${status[$name]} after $(((SECONDS - start) / 60)) min (log: $logs/$name.log)"
  [ "${status[$name]}" -eq 0 ] || tail -30 "$logs/$name.log"
}
run demo "bash scripts/demo.sh"
run test "bash scripts/test.sh"

echo
echo "fresh-machine-check: demo ${status[demo]}, test ${status[test]}"
[ "${status[demo]}" -eq 0 ] && [ "${status[test]}" -eq 0 ]
