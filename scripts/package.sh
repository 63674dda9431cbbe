#!/usr/bin/env bash
# package.sh [--no-build] [--build-dir DIR] [--output-dir DIR]: makes the Debian package of the
# toolkit, vorn-toolkit_<version>_i386.deb, from the normal (i686 release) build and checks it
# with lintian.
#   --no-build        package the build as it is (it must have been built); by default
#                     "scripts/build.sh normal" brings build/ up to date first
#   --build-dir DIR   package that i686 build instead of build/ (implies --no-build)
#   --output-dir DIR  where the package goes (default: $VORN_PACKAGE_DIR, else build/packages)
# The package holds what "cmake --install build --component toolkit" installs under /usr, with
# the binaries stripped and the manual pages compressed, plus the files of packaging/debian/:
# copyright, changelog (as changelog.Debian.gz) and the lintian overrides. Its version is the
# top entry of packaging/debian/changelog, which must be "<the built version>-<revision>": a new
# upstream version needs a new changelog entry. The script fails on any lintian error; it
# prints the package's path and file list last. The staging tree lives in a temporary directory
# under build/ and is removed on exit.
set -euo pipefail
caller=$PWD
cd "$(dirname "$0")/.."
top=$PWD
debian_dir=$top/packaging/debian
package=vorn-toolkit
arch=i386

usage() { sed -n '2,8s/^# \{0,1\}//p' "$0"; }
die() { echo "package.sh: $*" >&2; exit 1; }
is_static() { [[ $(readelf -d "$1") == *'There is no dynamic section'* ]]; }

out=${VORN_PACKAGE_DIR:-$top/build/packages}
build=1
builddir=$top/build
while (($#)); do
  case $1 in
    --no-build) build=0 ;;
    --output-dir) (($# >= 2)) || die "--output-dir needs a directory"; out=$2; shift ;;
    --output-dir=*) out=${1#*=} ;;
    --build-dir) (($# >= 2)) || die "--build-dir needs a directory"; builddir=$2; build=0; shift ;;
    --build-dir=*) builddir=${1#*=}; build=0 ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done

for tool in dpkg-deb dpkg-gencontrol dpkg-shlibdeps dpkg-parsechangelog lintian strip readelf; do
  command -v "$tool" >/dev/null || die "$tool is missing (packages dpkg-dev, lintian, binutils)"
done

if ((build)); then
  bash scripts/build.sh normal
fi
[[ $builddir == /* ]] || builddir=$caller/$builddir
[[ -f $builddir/CMakeCache.txt ]] ||
  die "$builddir is not configured; run scripts/build.sh normal or drop --no-build"

# A relative output directory is taken from where the script was called.
[[ $out == /* ]] || out=$caller/$out
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d "$builddir/.package.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# The Debian layout the dpkg tools expect: debian/control and the package's tree debian/<package>.
mkdir -p "$work/debian"
cp "$debian_dir/control" "$work/debian/control"
root=$work/debian/$package
cmake --install "$builddir" --prefix "$root/usr" --component toolkit
[[ -x $root/usr/bin/vorn-config ]] || die "the toolkit install has no usr/bin/vorn-config"

# --- Version: the tool reports the version it was built as, which must be the project's.
upstream=$("$root/usr/bin/vorn-config" --version)
project=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$builddir/CMakeCache.txt")
[[ $upstream == "$project" ]] ||
  die "vorn-config reports version '$upstream' but the project's version is '$project'"
version=$(dpkg-parsechangelog -l "$debian_dir/changelog" -S Version)
[[ $version =~ ^(.+)-([^-]+)$ && ${BASH_REMATCH[1]} == "$upstream" ]] ||
  die "the top entry of packaging/debian/changelog is for $version, not for $upstream-<revision>: add an entry for $upstream"
# File times in the package are clamped to the changelog entry's date: the same sources make the
# same package.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$debian_dir/changelog" -S Timestamp)
export SOURCE_DATE_EPOCH

# --- The package's tree.
# Strip as Debian does: all symbols of programs, the debugging information of static libraries;
# the .comment and .note sections of both.
elf_files=()
while IFS= read -r -d '' file; do
  if [[ $(head -c 4 "$file") == $'\x7fELF' ]]; then
    elf_files+=("$file")
    strip --remove-section=.comment --remove-section=.note "$file"
  elif [[ $(head -c 8 "$file") == '!<arch>' ]]; then
    strip --strip-debug --remove-section=.comment --remove-section=.note \
      --enable-deterministic-archives -R '.gnu.lto_*' -R '.gnu.debuglto_*' "$file"
  fi
done < <(find "$root" -type f -print0)

if [[ -d $root/usr/share/man ]]; then
  find "$root/usr/share/man" -type f ! -name '*.gz' -exec gzip -9nf {} +
fi
doc=$root/usr/share/doc/$package
mkdir -p "$doc" "$root/usr/share/lintian/overrides"
cp "$debian_dir/copyright" "$doc/copyright"
gzip -9n <"$debian_dir/changelog" >"$doc/changelog.Debian.gz"
cp "$debian_dir/lintian-overrides" "$root/usr/share/lintian/overrides/$package"

find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
find "$root/usr/bin" -type f -exec chmod 0755 {} +

# --- Depends.
# Run-time needs of the package's own programs: dpkg-shlibdeps on the dynamically linked ones.
# vorn-config is linked statically and needs nothing.
substvars=$work/debian/substvars
dynamic=()
for file in ${elf_files[@]+"${elf_files[@]}"}; do
  if is_static "$file"; then
    echo "package.sh: ${file#"$root"} is linked statically: it needs no shared library"
  else
    dynamic+=("$file")
  fi
done
if ((${#dynamic[@]})); then
  (cd "$work" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -T"$substvars" "${dynamic[@]}")
else
  echo "shlibs:Depends=" >>"$substvars"
fi

# Needs of a program built on the package: the headers include the C and C++ standard libraries'
# headers, and linking with the static library pulls in the C++ standard library and the
# system libraries that "vorn-config --ldflags" names. A shared object made of the whole static
# library, linked exactly so and with every symbol resolved, shows which run-time libraries (and
# versions) that is; the package depends on their development packages for the package's
# architecture. The multilib variants that "g++ -m32" uses on x86-64 belong to x86-64 and cannot
# satisfy a dependency of an i386 package.
compiler_file=$(ls -t "$builddir"/CMakeFiles/*/CMakeCXXCompiler.cmake 2>/dev/null | head -n 1) || true
[[ -n $compiler_file ]] || die "$builddir has no CMakeCXXCompiler.cmake: is it configured?"
cxx=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$compiler_file")
cxx_major=$(sed -n 's/^set(CMAKE_CXX_COMPILER_VERSION "\([0-9]*\).*")$/\1/p' "$compiler_file")
[[ -n $cxx && -n $cxx_major ]] || die "cannot read the C++ compiler from $compiler_file"
probe_dir=$work/debian/probe/usr/lib
mkdir -p "$probe_dir" "$work/debian/probe/DEBIAN"
read -r -a libfiles <<<"$("$root/usr/bin/vorn-config" --libfiles support)"
read -r -a ldflags <<<"$("$root/usr/bin/vorn-config" --ldflags)"
"$cxx" -m32 -shared -Wl,-z,defs -o "$probe_dir/libprobe.so" \
  -Wl,--whole-archive "${libfiles[@]}" -Wl,--no-whole-archive "${ldflags[@]}"
runtime=$(cd "$work" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O "$probe_dir/libprobe.so") ||
  die "dpkg-shlibdeps cannot tell what the static library needs"
runtime=${runtime#shlibs:Depends=}
dev_depends=()
IFS=',' read -r -a relations <<<"$runtime"
for relation in "${relations[@]}"; do
  relation=$(echo "$relation" | sed 's/^ *//; s/ *$//')
  name=${relation%% *}
  constraint=${relation#"$name"}
  case $name in
    libc6) dev_depends+=("libc6-dev$constraint") ;;
    # Any later C++ standard library also serves: the C++17 library interface is stable.
    libstdc++6) dev_depends+=("libstdc++-$cxx_major-dev | libstdc++-dev") ;;
    # The compiler's own support library: every libstdc++-N-dev depends on its libgcc-N-dev.
    libgcc-s1) ;;
    *) die "the static library needs $relation at run time: which development package provides it?" ;;
  esac
done
echo "vorn:Depends=$(IFS=','; echo "${dev_depends[*]}" | sed 's/,/, /g')" >>"$substvars"

# Built-Using: a statically linked program contains the C library, whose licence asks that its
# source stays available; name the C library's source package and version.
built_using=
for file in ${elf_files[@]+"${elf_files[@]}"}; do
  if [[ $(readelf -h "$file") == *'Type:'*EXEC* ]] && is_static "$file"; then
    libc_a=$(realpath "$("$cxx" -m32 -print-file-name=libc.a)")
    libc_package=$(dpkg -S "$libc_a" | sed 's/: .*//') || die "no installed package owns $libc_a"
    built_using=$(dpkg-query -W -f='${source:Package} (= ${source:Version})' "$libc_package")
    break
  fi
done
echo "vorn:Built-Using=$built_using" >>"$substvars"

rm -rf "$work/debian/probe"
mkdir -p "$root/DEBIAN"
(cd "$root" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
(cd "$work" && DEB_HOST_ARCH=$arch dpkg-gencontrol -p"$package" -l"$debian_dir/changelog" \
  -T"$substvars" -P"$root")
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

# --- Build and check.
deb_name=${package}_${version}_$arch.deb
deb=$work/$deb_name
dpkg-deb --root-owner-group --build "$root" "$deb"

# The package's vorn-config must find the toolkit where the package puts it.
mkdir "$work/extract"
dpkg-deb -x "$deb" "$work/extract"
prefix=$("$work/extract/usr/bin/vorn-config" --prefix)
[[ $prefix == "$work/extract/usr" ]] ||
  die "the packaged vorn-config reports the prefix '$prefix' instead of '$work/extract/usr'"

echo "package.sh: lintian $deb_name"
status=0
lintian_output=$(lintian --no-cfg "$deb" 2>&1) || status=$?
[[ -z $lintian_output ]] || printf '%s\n' "$lintian_output"
if grep -q '^E: ' <<<"$lintian_output" || ((status)); then
  rm -f "$out/$deb_name"
  die "lintian reports errors (exit status $status)"
fi

mv -f "$deb" "$out/$deb_name"
echo "package.sh: $out/$deb_name"
dpkg-deb -c "$out/$deb_name"
