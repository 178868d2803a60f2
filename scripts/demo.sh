#!/usr/bin/env bash
# The collector end to end, in under a minute once built: zovtds plays a Sybase server
# (examples/demo-server.scn), zemcoll collects from it with a copy of the example
# definitions, zovprobe reads the collected rows, the history file and the evaluator's log
# lines are shown, and SHUTDOWN ends the collector.
#
#   scripts/demo.sh                   install what is missing, build the release preset, run
#   scripts/demo.sh --prebuilt DIR    run with the programs of DIR/bin (a build directory, or
#                                     the prefix of `cmake --install`)
#   --scenario FILE                   another server script in place of the example one
#   JOBS=n scripts/demo.sh            build with n jobs (all the cores unset)
#
# Everything is written to a private temporary directory that is removed at the end; the
# processes started are ended by their pids. Any failing step ends the demo with status 1.
set -euo pipefail

started=$SECONDS
root="$(cd "$(dirname "$0")/.." && pwd)"
scenario="$root/examples/demo-server.scn"
build=""
while (($#)); do
  case "$1" in
    --prebuilt)
      [ $# -ge 2 ] || { echo "demo: --prebuilt needs a build directory" >&2; exit 1; }
      build="$(cd "$2" && pwd)"
      shift 2
      ;;
    --scenario)
      [ $# -ge 2 ] || { echo "demo: --scenario needs a file" >&2; exit 1; }
      scenario="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
      shift 2
      ;;
    -h | --help)
      sed -n '2,14s/^# \{0,1\}//p' "$0"
      exit 0
      ;;
    *)
      echo "demo: unknown argument $1 (use --prebuilt DIR)" >&2
      exit 1
      ;;
  esac
done

jobs="${JOBS:-$(nproc)}"  # JOBS=n: fewer on a shared machine
[[ "$jobs" =~ ^[1-9][0-9]*$ ]] || { echo "demo: JOBS must be a number of jobs, not '$jobs'" >&2; exit 1; }

dir=""
tds_pid=""
coll_pid=""
step="start"

cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  for pid in $coll_pid $tds_pid; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
  done
  [ -n "$dir" ] && rm -rf "$dir"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

collector_log() {
  local f
  for f in "$dir"/*_col.out; do [ -f "$f" ] && { echo "$f"; return; }; done
  echo "$dir/zemcoll.stdout"
}

fail() {
  echo >&2
  echo "demo: FAILED at step '$step': $*" >&2
  if [ -n "$dir" ]; then
    local log
    log="$(collector_log)"
    echo "--- last 20 lines of the collector's log ---" >&2
    [ -f "$log" ] && tail -n 20 "$log" >&2
    echo "--- last 20 lines of zovtds's log ---" >&2
    [ -f "$dir/zovtds.log" ] && tail -n 20 "$dir/zovtds.log" >&2
    [ -s "$dir/zovtds.out" ] && tail -n 20 "$dir/zovtds.out" >&2
  fi
  exit 1
}

heading() { printf '\n===== %s =====\n' "$1"; }

# 1. The programs.
step="1 build"
if [ -z "$build" ]; then
  "$root/scripts/install-deps.sh" || fail "installing the packages failed"
  for tool in cmake c++ make; do
    command -v "$tool" >/dev/null || fail "$tool is still missing after the install"
  done
  # Every program, so that `cmake --install build/release` finds all it installs.
  (cd "$root" && cmake --preset release >/dev/null &&
    cmake --build --preset release -j "$jobs" \
      --target zemcoll zemsql zem2sql zovprobe zovivpt zovtds) ||
    fail "the release build failed"
  build="$root/build/release"
fi
bin="$build/bin"
for program in zemcoll zovprobe zovtds; do
  [ -x "$bin/$program" ] || fail "$bin/$program is missing"
done

# 2. The private directory.
step="2 private directory"
# The collector's and zovprobe's named pipes are named for this directory and a pipe path
# holds at most 99 characters, so a long $TMPDIR gives way to /tmp.
root_tmp="${TMPDIR:-/tmp}"
[ "${#root_tmp}" -le 16 ] || root_tmp=/tmp
dir="$(mktemp -d "$root_tmp/zovdemo.XXXXXX")" || fail "mktemp -d"
chmod 700 "$dir"
echo "demo directory: $dir"

# 3. The example definitions, with 10-second intervals in the copy.
step="3 definitions"
cp "$root"/examples/* "$dir"/
# Every process interval, and the cursors' 60-second ones (the files share the clause).
shorten='/^process /,$ s/^(  interval )[0-9]+;/\110;/; s/^(  interval )60;/\110;/'
echo "intervals in the copy: sed -E '$shorten' zemproc.ctl zemcoll.ctl"
sed -E -i "$shorten" "$dir/zemproc.ctl" "$dir/zemcoll.ctl"

# 4. The server.
step="4 zovtds"
"$bin/zovtds" -s "$scenario" -c "$dir/freetds.conf" -l "$dir/zovtds.log" \
  >"$dir/zovtds.out" 2>&1 &
tds_pid=$!
port=""
# The limits of the waits below leave room for a loaded machine and a sanitizer build: each
# ends as soon as what it waits for is there.
for _ in $(seq 300); do
  port="$(sed -n 's/^port \([0-9][0-9]*\)$/\1/p' "$dir/zovtds.out")"
  [ -n "$port" ] && break
  kill -0 "$tds_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || fail "zovtds printed no port line: $(cat "$dir/zovtds.out")"
echo "zovtds listens on port $port"

# 5. The collector's environment: no password on any command line; named pipes only.
export FREETDSCONF="$dir/freetds.conf"
export COLL_HOME="$dir" COLL_CTL_HOME="$dir" COLL_PREFIX="$dir" TMPDIR="$dir"
export COLL_SERVERID=ZOVTDS COLL_LOGONID=demo COLL_PASSWORD='=zovdemo'
export COLL_VERSION=zem COLL_HOSTNAME=demohost COLL_USESHM=0

# 6. The collector, until two collection passes ended with a commit.
step="6 zemcoll"
(cd "$dir" && exec "$bin/zemcoll" >"$dir/zemcoll.stdout" 2>&1) &
coll_pid=$!
commits() { grep -c ' commit transaction$' "$dir/zovtds.log" 2>/dev/null || true; }
wait_commits() {  # until zovtds has seen $1 commits, within $2 seconds
  local deadline=$((SECONDS + $2))
  while [ "$(commits)" -lt "$1" ]; do
    kill -0 "$coll_pid" 2>/dev/null || fail "zemcoll ended early"
    [ "$SECONDS" -lt "$deadline" ] ||
      fail "no collection pass ended with a commit ($1 awaited) in $2 seconds"
    sleep 0.1
  done
}
wait_commits 1 90
# The collector opens its request pipe after the pass, in its first serving turn.
for _ in $(seq 300); do
  compgen -G "$dir/col_*pipe" >/dev/null && break
  kill -0 "$coll_pid" 2>/dev/null || fail "zemcoll ended early"
  sleep 0.1
done
compgen -G "$dir/col_*pipe" >/dev/null || fail "zemcoll made no request pipe in 30 seconds"
grep -q ' user=demo app=collector ' "$dir/zovtds.log" || fail "no collector login in zovtds's log"
# The monitor cursor's values after the first pass, to set beside the second's.
monitor=""
grep -q '^cursor ZEMENGS;' "$dir/zemcoll.ctl" && monitor=ZEMENGS
if [ -n "$monitor" ]; then
  (cd "$dir" && timeout 60 "$bin/zovprobe" "$monitor" >"$dir/$monitor.1" 2>&1) ||
    fail "zovprobe $monitor failed: $(cat "$dir/$monitor.1")"
fi
# The next pass is due 10 seconds after the first began.
wait_commits $(($(commits) + 1 > 2 ? $(commits) + 1 : 2)) 60

heading "zovtds: the collector's login and its passes (statements, then the commit)"
awk '/^login /; / commit transaction$/ { printf "pass %d: %d statements, commit\n", ++p, n; n = 0; next }
  /^batch / { ++n }' "$dir/zovtds.log"

# 7. What was collected.
out=""
probe() {
  local title="$1"
  shift
  heading "$title"
  out="$(cd "$dir" && timeout 60 "$bin/zovprobe" "$@" 2>&1)" || fail "zovprobe $* failed: $out"
  echo "$out"
  # A cursor's listing says "Rows:N"; -show lists the cursor names.
  if [ "$1" = -show ]; then
    echo "$out" | grep -q '^cursors: [A-Z]' || fail "zovprobe -show listed no cursor"
  else
    echo "$out" | grep -Eq 'Rows:[1-9]' || fail "zovprobe $* printed no row"
  fi
}
step="7 zovprobe PROCS"
probe "zovprobe PROCS" PROCS
step="7 zovprobe DISKFREE"
probe "zovprobe DISKFREE" DISKFREE
step="7 zovprobe ZEMENGS"
if [ -n "$monitor" ]; then
  heading "zovprobe $monitor (monitor cursor over SYSMON): after the first pass"
  cat "$dir/$monitor.1"
  grep -Eq 'Rows:[1-9]' "$dir/$monitor.1" || fail "zovprobe $monitor printed no row"
  probe "zovprobe $monitor: after the next pass" "$monitor"
  [ "$(tail -n +3 "$dir/$monitor.1")" != "$(echo "$out" | tail -n +3)" ] ||
    fail "$monitor's values did not change between the passes"
else
  echo "(no ZEMENGS cursor in this example set)"
fi
step="7 zovprobe -show"
probe "zovprobe -show" -show

step="7 history"
history=""
for name in SRVSTAT SYSMON; do
  if [ -f "$dir/$name.HST" ]; then history="$dir/$name.HST"; break; fi
done
[ -n "$history" ] || fail "no history file"
heading "$(basename "$history")"
tr '\0' '|' <"$history"
[ "$(wc -l <"$history")" -ge 1 ] || fail "the history file is empty"

step="7 evaluations"
# The evaluator logs the rows that satisfy a rule: the cursor's INSERT (cpr1890), then one
# line per column (cpr1895). The last such block of each rule's cursor is shown.
log="$(collector_log)"
for eval in HIGHCPU BLOCKING; do
  cursor="$(awk -v e="$eval" '$1 == "eval" && $2 == e ";" { on = 1; next }
    on && $1 == "cursor" { sub(";", "", $2); print $2; exit }' "$dir/zemeval.ctl")"
  [ -n "$cursor" ] || fail "no evaluation $eval in zemeval.ctl"
  heading "evaluator: $eval (cursor $cursor)"
  block="$(awk -v c="$cursor" '
    toupper($1) ~ /^CPR1890/ { keep = index($0, "INSERT INTO " c " ") > 0
                               if (keep) { last = $0; next } }
    keep && toupper($1) ~ /^CPR1895/ { last = last "\n" $0; next }
    { keep = 0 }
    END { if (last != "") print last }' "$log")"
  [ -n "$block" ] || fail "no evaluator lines for $eval"
  echo "$block"
  [ "$(echo "$block" | wc -l)" -ge 2 ] || fail "no row in the evaluator lines of $eval"
done

# 8. The end.
step="8 shutdown"
heading "zovprobe SHUTDOWN"
(cd "$dir" && timeout 60 "$bin/zovprobe" SHUTDOWN) || true
status=""
for _ in $(seq 600); do
  if ! kill -0 "$coll_pid" 2>/dev/null; then
    status=0
    wait "$coll_pid" || status=$?
    break
  fi
  sleep 0.1
done
[ -n "$status" ] || fail "zemcoll did not end within 60 seconds of SHUTDOWN"
coll_pid=""
[ "$status" -eq 0 ] || fail "zemcoll ended with status $status"
grep -q 'Quit request received\.' "$(collector_log)" || fail "no 'Quit request received.' in the log"
echo "zemcoll ended with status 0"
kill -TERM "$tds_pid"
wait "$tds_pid" || fail "zovtds ended with status $?"
tds_pid=""

echo
echo "demo finished in $((SECONDS - started)) s"
