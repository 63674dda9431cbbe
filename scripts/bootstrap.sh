#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need on a Debian 12 machine (as root), and
# makes 32-bit programs runnable where the machine cannot execute them itself (user-mode
# emulation). Safe to run again: when everything is in place it changes nothing.
set -uo pipefail

native=$(dpkg --print-architecture)
packages=(
  cmake make g++ g++-multilib pkgconf binutils
  googletest
  libcap-dev:i386 libcap2-bin
  libbenchmark-dev:i386
  zlib1g-dev:i386 libminizip-dev:i386
  libgmp-dev:i386
  # the APInt benchmarks' second anchor, Boost.Multiprecision's cpp_int: headers only, so the
  # native architecture's package serves the i686 build as well
  libboost-dev
  # the build machine's own: tools that run during the build (the zub writer links minizip and
  # zlib), and the native variant (whose launcher phases, for the stress targets, use libcap)
  "zlib1g-dev:$native" "libminizip-dev:$native" "libbenchmark-dev:$native" "libgmp-dev:$native"
  "libcap-dev:$native"
  valgrind
  # packaging and the toolkit's consumers: the Debian package, its checks, the manual pages and
  # the shell completion
  dpkg-dev lintian groff-base bash-completion
  # mutates the launcher's file inputs in the stress tests
  zzuf
)

missing_of() {
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
      echo "$p"
    fi
  done
}

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: $1; run this script as root" >&2
    exit 1
  fi
}

# install_packages NAME...: installs the named packages (all of them missing).
install_packages() {
  missing=("$@")
  need_root "missing packages (${missing[*]})"
  echo "bootstrap: installing ${missing[*]}" >&2

  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi

  # A mirror in the middle of a sync fails for a few index files only; try again a little later,
  # then go on with what did download. Once a run is enough.
  [ -n "${updated-}" ] || for attempt in 1 2 3; do
    if apt-get update -q 2>&1 | tee /tmp/bootstrap-update.log | grep -qE '^(E|Err):'; then
      echo "bootstrap: apt-get update failed for some index files (attempt $attempt)" >&2
      sleep $((attempt * 5))
    else
      break
    fi
  done
  updated=1

  install() { apt-get install -y -q --no-install-recommends "$@" >/tmp/bootstrap-install.log 2>&1; }

  if install "${missing[@]}"; then return 0; fi

  # When the i386 index of one suite is missing, a "Multi-Arch: same" library that the machine has
  # in its amd64 build from that suite has no i386 twin of the same version. Align both builds on the
  # version that the i386 lists do offer, and try again; repeat while that finds new packages.
  pins=()
  for round in 1 2 3 4 5 6; do
    blocked=$(grep -oE '([a-z0-9.+-]+):i386' /tmp/bootstrap-install.log | sed 's/:i386$//' | sort -u)
    added=0
    for name in $blocked; do
      want=$(apt-cache policy "$name:i386" 2>/dev/null | sed -n 's/^ *Candidate: //p')
      have=$(dpkg-query -W -f='${Version}' "$name:amd64" 2>/dev/null || true)
      [ -n "$want" ] && [ "$want" != "(none)" ] || continue
      [ -n "$have" ] || continue
      apt-cache madison "$name" 2>/dev/null | grep -q " $want | .* amd64 Packages" || continue
      case " ${pins[*]-} " in *" $name:i386=$want "*) continue ;; esac
      pins+=("$name:amd64=$want" "$name:i386=$want")
      added=1
    done
    echo "bootstrap: retrying with aligned versions: ${pins[*]-}" >&2
    if install --allow-downgrades "${missing[@]}" "${pins[@]}"; then return 0; fi
    [ "$added" -eq 1 ] || break
  done
  cat /tmp/bootstrap-install.log >&2
  echo "bootstrap: could not install ${missing[*]}" >&2
  exit 1
}

mapfile -t missing < <(missing_of "${packages[@]}")
[ "${#missing[@]}" -eq 0 ] || install_packages "${missing[@]}"

# 32-bit programs. A machine whose kernel cannot execute them (no 32-bit user mode under some
# hypervisors, ia32_emulation=0) runs them through qemu-i386, registered with binfmt_misc for i386
# executables and shared objects, with the flags that keep argument 0 (P), pass the open binary (O)
# and its credentials (C), and open the emulator once at registration (F), so that it works in
# any mount namespace or chroot. A machine that runs them natively is left as it is.
kind=$(bash "$(dirname "$0")/machine-kind.sh") || exit 1
if [ "$kind" = none ]; then
  mapfile -t missing < <(missing_of qemu-user-static)
  [ "${#missing[@]}" -eq 0 ] || install_packages "${missing[@]}"
  binfmt=/proc/sys/fs/binfmt_misc
  if [ ! -e "$binfmt/register" ]; then
    need_root "binfmt_misc is not mounted"
    mount -t binfmt_misc binfmt_misc "$binfmt" || {
      echo "bootstrap: cannot mount binfmt_misc on $binfmt: 32-bit programs cannot run here" >&2
      exit 1
    }
  fi
  if [ -e "$binfmt/qemu-i386" ]; then
    if ! grep -qx enabled "$binfmt/qemu-i386"; then
      need_root "the qemu-i386 emulation is registered but disabled"
      echo 1 >"$binfmt/qemu-i386"
    fi
  else
    need_root "32-bit programs need the qemu-i386 emulation registered"
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    printf '%s' ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:POCF" >"$binfmt/register" || {
      echo "bootstrap: cannot register qemu-i386 with binfmt_misc" >&2
      exit 1
    }
  fi
  kind=$(bash "$(dirname "$0")/machine-kind.sh") || exit 1
  if [ "$kind" = none ]; then
    echo "bootstrap: 32-bit programs still cannot run on this machine, even with qemu-i386 registered" >&2
    exit 1
  fi
fi
if [ "$kind" = emulated ]; then
  echo "bootstrap: this machine cannot run 32-bit programs itself; the i686 programs and tests run under qemu-i386 user-mode emulation"
fi
exit 0
