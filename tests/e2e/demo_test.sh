#!/usr/bin/env bash
# Runs scripts/demo.sh on a build's programs and checks what it shows and what it leaves.
#   demo_test.sh SOURCE_DIR BUILD_DIR                 the demo on the build installed with
#                                                     `cmake --install`: exit 0, every
#                                                     section, < 120 s
#   demo_test.sh SOURCE_DIR BUILD_DIR --bad-scenario  a scenario with a typo: exit 1, zovtds's
#                                                     message, nothing left behind
set -uo pipefail
src="$1" build="$2" mode="${3:-}"
source "$(dirname "$0")/e2e_lib.sh"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
args=(--prebuilt "$build")
if [ "$mode" = --bad-scenario ]; then
  sed '0,/^  row /s/^  row /  rwo /' "$src/examples/demo-server.scn" >"$work/typo.scn"
  args+=(--scenario "$work/typo.scn")
else
  # What the README says of an install: the five programs and zovtds in bin/, the example
  # set in share/zov/examples/, and the demo runs on that tree.
  cmake --install "$build" --prefix "$work/inst" >"$work/install.out" 2>&1
  installed=$?
  [ "$installed" -eq 0 ] || cat "$work/install.out"
  check "cmake --install succeeds" test "$installed" -eq 0
  for program in zemcoll zemsql zem2sql zovprobe zovivpt zovtds; do
    check "bin/$program is installed" test -x "$work/inst/bin/$program"
  done
  check "the example set is installed" test -f "$work/inst/share/zov/examples/demo-server.scn"
  args=(--prebuilt "$work/inst")
fi

start=$SECONDS
"$src/scripts/demo.sh" "${args[@]}" >"$work/out" 2>&1
rc=$?
elapsed=$((SECONDS - start))
cat "$work/out"
echo "----- the demo ended with status $rc after $elapsed s"

# The demo's directory and the processes started in it are gone.
dir="$(sed -n 's/^demo directory: //p' "$work/out")"
check "the demo printed its directory" test -n "$dir"
check "the directory is removed" test ! -e "${dir:-/nonexistent}"
left=""
if [ -n "$dir" ]; then
  # By command line (zovtds names its files there) and by working directory (zemcoll).
  left="$(processes_of "$dir")"
fi
check "no process of the run is left (${left:-none})" test -z "$left"

section() {  # the lines after the heading "===== $1", up to the next heading
  awk -v h="===== $1" 'index($0, h) == 1 { on = 1; next } /^===== / { on = 0 } on' "$work/out"
}

if [ "$mode" = --bad-scenario ]; then
  check "a faulty scenario fails the demo with status 1" test "$rc" -eq 1
  check "zovtds's message names the line" grep -q 'zovtds: .*typo.scn: line [0-9]*: ' "$work/out"
  check "the failing step is named" grep -q "FAILED at step '4 zovtds'" "$work/out"
  exit $((fails > 0))
fi

check "the demo exits 0" test "$rc" -eq 0
# The demo's minute is for the release build on a quiet machine; here it runs on the
# sanitizer build, maybe beside other work, so the bound only tells slow from stuck.
check "the demo takes under 120 s ($elapsed s)" test "$elapsed" -lt 120
for h in "zovprobe PROCS" "zovprobe DISKFREE" "zovprobe ZEMENGS (monitor cursor over SYSMON)" \
  "zovprobe ZEMENGS: after the next pass" "zovprobe -show" "SRVSTAT.HST" \
  "evaluator: HIGHCPU" "evaluator: BLOCKING"; do
  check "a row under '$h'" test -n "$(section "$h" | grep -Ev '^[[:space:]]*$|^-+ Sample|Rows:')"
done
check "zovprobe PROCS shows rows" grep -q 'Cursor:PROCS, Rows:[1-9]' "$work/out"
check "-show lists the cursors" grep -q '^cursors: .*SRVSTAT .*ZEMENGS' "$work/out"

first="$(section "zovprobe ZEMENGS (monitor cursor over SYSMON)" | grep -v -e Sample -e Rows:)"
next="$(section "zovprobe ZEMENGS: after the next pass" | grep -v -e Sample -e Rows:)"
check "ZEMENGS's values differ between the passes" test "$first" != "$next"

# History records: the pass's time (14 characters), then the values.
hst="$(section "SRVSTAT.HST" | grep -E '^[0-9]{14}')"
check "SRVSTAT.HST holds two records or more" test "$(echo "$hst" | wc -l)" -ge 2
check "SRVSTAT's records differ in their values" \
  test "$(echo "$hst" | cut -c15- | sort -u | wc -l)" -ge 2

passes="$(section "zovtds: the collector's login")"
check "zovtds saw the collector's login" \
  grep -q '^login conn=[0-9]* user=demo app=collector ' <<<"$passes"
check "each of two passes ends with a commit" \
  test "$(grep -Ec '^pass [0-9]+: [1-9][0-9]* statements, commit$' <<<"$passes")" -ge 2
check "HIGHCPU's lines show SRVSTAT's row" grep -q 'n=PCT_BUSY,.*:9[0-9]\.' "$work/out"
check "BLOCKING's lines show the blocked process" grep -q 'n=BLOCKER,.*:17$' "$work/out"
check "zemcoll obeyed SHUTDOWN" grep -q '^zemcoll ended with status 0$' "$work/out"
exit $((fails > 0))
