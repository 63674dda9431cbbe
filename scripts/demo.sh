#!/usr/bin/env bash
# The demo: installs what is missing, builds everything, then runs the main job of each program on
# the staged default installations under build/stage/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
bash scripts/build.sh normal
stage=$PWD/build/stage

echo
echo "== quillet -d out Hello.x   (runtime tree: build/stage/tesk)"
set +e
"$stage/tesk/bin/quillet" -d out Hello.x
status=$?
set -e
echo "quillet exit status: $status"
[ "$status" -eq 0 ] || exit "$status"

if [ -x "$stage/vorn/bin/vorn-config" ]; then
  echo
  echo "== vorn-config describes the staged toolkit (build/stage/vorn)"
  "$stage/vorn/bin/vorn-config" --version --prefix --libs support
  if [ -f scripts/demo-toolkit.sh ]; then
    echo
    echo "== a client program built with nothing but vorn-config's answers"
    bash scripts/demo-toolkit.sh "$stage/vorn"
  fi
fi
