#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need on a Debian 12 machine (as root).
# Safe to run again: when every package is present it does nothing.
set -uo pipefail

packages=(
  cmake make g++ g++-multilib pkgconf
  googletest
  libcap-dev:i386 libcap2-bin
  libbenchmark-dev:i386
  zlib1g-dev:i386 libminizip-dev:i386
  libgmp-dev:i386
  valgrind
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "bootstrap: missing packages (${missing[*]}); run this script as root to install them" >&2
  exit 1
fi
echo "bootstrap: installing ${missing[*]}" >&2

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

# A mirror in the middle of a sync fails for a few index files only; try again a little later,
# then go on with what did download.
for attempt in 1 2 3; do
  if apt-get update -q 2>&1 | tee /tmp/bootstrap-update.log | grep -qE '^(E|Err):'; then
    echo "bootstrap: apt-get update failed for some index files (attempt $attempt)" >&2
    sleep $((attempt * 5))
  else
    break
  fi
done

install() { apt-get install -y -q --no-install-recommends "$@" >/tmp/bootstrap-install.log 2>&1; }

if install "${missing[@]}"; then exit 0; fi

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
  if install --allow-downgrades "${missing[@]}" "${pins[@]}"; then exit 0; fi
  [ "$added" -eq 1 ] || break
done
cat /tmp/bootstrap-install.log >&2
echo "bootstrap: could not install ${missing[*]}" >&2
exit 1
