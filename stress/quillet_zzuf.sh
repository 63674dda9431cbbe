#!/bin/bash
# Black-box mutation of quillet's file inputs: the VM catalogue "rask.cfg" and zub files, mutated
# by zzuf from the staged runtime's own, given to the staged quillet (build it with the
# sanitizers). Every run must end within the time limit with one of the launcher's statuses
# (0, 1, 2, 4, 6) and only the launcher's messages on standard error: no signal, no sanitizer
# report. A failing input is saved and can be replayed with --replay.
#
# usage: quillet_zzuf.sh --stage RUNTIME-DIR [--runs N | --seconds S] [--seed N] [--ratio R]
#                        [--limit SECONDS] [--save-dir DIR] [--replay FILE.cfg|FILE.zub|DIR]...
# Exit status: 0 all runs passed, 1 a run failed, 77 zzuf is missing (nothing was run), 2 misuse.
set -u
# Messages quote mutated bytes that are not valid text in any locale: match bytes.
export LC_ALL=C

stage= runs=0 seconds=0 seed= ratio=0.004 limit=120 save_dir=${STRESS_SAVE_DIR:-.}
replays=()
while [ $# -gt 0 ]; do
  case "$1" in
    --stage) stage=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --ratio) ratio=$2; shift 2 ;;
    --limit) limit=$2; shift 2 ;;
    --save-dir) save_dir=$2; shift 2 ;;
    --replay) replays+=("$2"); shift 2 ;;
    *) sed -n '2,/^set -u/p' "$0" | sed '$d' >&2; exit 2 ;;
  esac
done
if [ -z "$stage" ] || [ ! -x "$stage/bin/quillet" ]; then
  echo "quillet-zzuf: no staged quillet in '$stage'" >&2
  exit 2
fi
if [ ${#replays[@]} -eq 0 ] && ! command -v zzuf > /dev/null; then
  echo "quillet-zzuf: zzuf is not installed; skipped"
  exit 77
fi
[ "$runs" -gt 0 ] || [ "$seconds" -gt 0 ] || [ ${#replays[@]} -gt 0 ] || runs=8
[ -n "$seed" ] || { [ "$seconds" -gt 0 ] && seed=$(od -An -N4 -tu4 /dev/urandom | tr -d ' '); } || seed=1
[ -n "$seed" ] || seed=1

mkdir -p "$save_dir" || exit 2
work=$(mktemp -d "${TMPDIR:-/tmp}/quillet-zzuf-XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
cp -a "$stage/." "$work/tesk"
cfg=$work/tesk/lib/i386/rask.cfg
cp "$cfg" "$work/rask.cfg.orig"
cp "$work/tesk/lib/tools.zub" "$work/app.zub.orig"

# The launcher's messages, one line each ("Failed to load Main-Class manifest attribute from" is
# followed by the zub file's name).
cat > "$work/messages" <<'PATTERNS'
^Warning: (no leading -|missing VM type|unknown VM type|missing VM alias|missing server class VM) on line [0-9]+ of `.*'$
^Error: no known VMs\. \(check for corrupt rask\.cfg file\)$
^Error: no `.*' RASK at `.*'\.$
^Error: could not open `.*'$
^Error: Corrupt rask\.cfg file; cycle in alias list\.$
^Error: Unable to resolve VM alias .*$
^Error: .* VM not supported$
^Warning: .* VM not supported; .* VM will be used$
^(dl failure on line 718)?Error: failed .*, because .*$
^Unable to access zubfile .*$
^Invalid or corrupt zubfile .*$
^Failed to load Main-Class manifest attribute from$
^app\.zub$
^Exception in thread "main" .*$
^Could not find the main class: .*\. Program will exit\.$
^Error: A KRU error has occurred, please check your installation and try again$
^Syntax error in version specification ".*"$
^Unable to locate UBO meeting specification ".*"$
^Error: main-class: attribute exceeds system limits$
^Failed to load Main Class: .*$
^No main method found in specified class\.$
^Main method not public\.$
^Could not create the Tesk virtual machine\.$
^Could not detach main thread\.$
PATTERNS

env_args=(HOME="$work" PATH=/usr/bin:/bin LANG=C)
for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
  [ -n "${!name:-}" ] && env_args+=("$name=${!name}")
done
vm_options=("" "-server" "-fast" "-legacy" "-retired" "-J-client" "-XXaltrask=/nonexistent")
declare -A statuses=()
failed=0 done_runs=0

# run KIND FILE ARGS...: runs quillet on the mutated FILE (KIND cfg or zub); 0 when it behaved.
run_one() {
  local kind=$1 file=$2 vm=$3
  cp "$work/rask.cfg.orig" "$cfg"
  local args=()
  [ -n "$vm" ] && args+=("$vm")
  if [ "$kind" = cfg ]; then
    cp "$file" "$cfg"
    args+=(Hello)
  else
    cp "$file" "$work/app.zub"
    args+=(-zub app.zub)
  fi
  (cd "$work" && exec timeout -s KILL "$limit" env -i "${env_args[@]}" "$work/tesk/bin/quillet" \
    "${args[@]}" > "$work/out" 2> "$work/err")
  local status=$?
  statuses[$status]=$(( ${statuses[$status]:-0} + 1 ))
  local why=
  if [ $status -eq 137 ]; then
    why="no end within $limit s"
  elif [ $status -gt 128 ]; then
    why="ended by signal $((status - 128))"
  elif [ $status -ne 0 ] && [ $status -ne 1 ] && [ $status -ne 2 ] && [ $status -ne 4 ] && [ $status -ne 6 ]; then
    why="status $status"
  elif grep -aqE 'Sanitizer|runtime error:' "$work/err"; then
    why="a sanitizer report"
  elif grep -avqE -f "$work/messages" "$work/err"; then
    why="a message that is not the launcher's: $(grep -avE -f "$work/messages" "$work/err" | head -3)"
  fi
  if [ -n "$why" ]; then
    echo "quillet-zzuf: FAILED ($kind ${args[*]}): $why" >&2
    head -c 4000 "$work/err" >&2
    return 1
  fi
  return 0
}

start=$(date +%s)
if [ ${#replays[@]} -gt 0 ]; then
  for path in "${replays[@]}"; do
    if [ -d "$path" ]; then files=("$path"/*); else files=("$path"); fi
    for f in "${files[@]}"; do
      [ -f "$f" ] || continue
      case "$f" in *.zub) kind=zub ;; *) kind=cfg ;; esac
      vm=
      case "$f" in *-vm[0-9]*) n=${f##*-vm}; n=${n%%[!0-9]*}; vm=${vm_options[$n]:-} ;; esac
      run_one "$kind" "$f" "$vm" || failed=$((failed + 1))
      done_runs=$((done_runs + 1))
    done
  done
else
  i=0
  while :; do
    if [ "$runs" -gt 0 ]; then [ $i -lt "$runs" ] || break; fi
    if [ "$seconds" -gt 0 ]; then [ $(( $(date +%s) - start )) -lt "$seconds" ] || break; fi
    s=$((seed + i))
    if [ $((i % 2)) -eq 0 ]; then kind=cfg; orig=$work/rask.cfg.orig; else kind=zub; orig=$work/app.zub.orig; fi
    n=$(( (i / 2) % ${#vm_options[@]} ))
    zzuf -s "$s" -r "$ratio" cat "$orig" > "$work/mutated.$kind"
    if ! run_one "$kind" "$work/mutated.$kind" "${vm_options[$n]}"; then
      saved=$save_dir/quillet-zzuf-$s-vm$n.$kind
      cp "$work/mutated.$kind" "$saved"
      echo "quillet-zzuf: input saved as $saved; replay it with: $0 --stage $stage --replay $saved" >&2
      failed=$((failed + 1))
    fi
    i=$((i + 1))
    done_runs=$i
  done
fi
spent=$(( $(date +%s) - start ))
summary=
for st in "${!statuses[@]}"; do summary+=" status $st: ${statuses[$st]};"; done
echo "quillet-zzuf: seed $seed: $done_runs runs in $spent s${summary}"
echo "$((done_runs - failed)) passed, $failed failed"
[ $failed -eq 0 ]
