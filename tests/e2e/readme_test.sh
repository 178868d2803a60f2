#!/usr/bin/env bash
# Runs the commands of the README's section "Trying it by hand" on a build's programs, as a
# user types them, and checks what they show. The commands are the section's ```sh blocks,
# taken from the README itself, so the section and this test cannot drift apart; only the
# release build's directory is replaced by the build under test.
#   readme_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src="$1" build="$2"
source "$(dirname "$0")/e2e_lib.sh"

# The section's scratch directory comes from mktemp, under this short TMPDIR (named pipe
# paths hold at most 99 characters), so that what the run leaves can be found and ended.
scratch="$(mktemp -d /tmp/zovreadme.XXXXXX)"
cleanup() {
  for pid in $(processes_of "$scratch"); do kill -KILL "$pid" 2>/dev/null; done
  rm -rf "$scratch"
}
trap cleanup EXIT

awk '/^## Trying it by hand$/ { on = 1; next }
     /^## / { on = 0 }
     on && /^```sh$/ { code = 1; next }
     code && /^```$/ { code = 0; next }
     on && code' "$src/README.md" >"$scratch/commands.sh"
check "the section holds commands" test -s "$scratch/commands.sh"
check "the section uses the release build" grep -q 'build/release/bin' "$scratch/commands.sh"
sed -i "s#\$src/build/release/bin#$build/bin#g" "$scratch/commands.sh"

# Every command must succeed (-e), each shown before it runs (-x). The user's settings that
# the section does not make are cleared; on a loaded machine zovivpt's reads of its channel
# child wait up to a minute for a line (each ends as soon as the line is there).
start=$SECONDS
(cd "$src" && env -u COLL_PREFIX -u COLL_PREFIX_LOCAL -u COLL_USESHM -u ZOVCFGDIR \
  -u COLL_BINPATH -u COLL_LOGON -u WAIT_TIMEOUT COLL_WAIT_TIMEOUT=60 TMPDIR="$scratch" \
  timeout 600 bash -euxo pipefail "$scratch/commands.sh") \
  >"$scratch/out" 2>&1
rc=$?
cat "$scratch/out"
echo "----- the section's commands ended with status $rc after $((SECONDS - start)) s"
out="$scratch/out"

check "every command succeeded" test "$rc" -eq 0
check "the scratch directory is removed" \
  test -z "$(find "$scratch" -mindepth 1 -maxdepth 1 -type d -name 'tmp.*')"
left="$(processes_of "$scratch")"
check "no process is left (${left:-none})" test -z "$left"
# zovprobe's rows, over each transport.
check "SRVSTAT and PROCS over named pipes, SRVSTAT over shared memory" \
  test "$(grep -c '^\*\*\*\*\*\*\*\*\*Cursor:SRVSTAT, Rows:1$' "$out")" -eq 2
check "PROCS shows its rows" grep -Eq '^\*+Cursor:PROCS, Rows:[1-9]' "$out"
check "DISKFREE twice" test "$(grep -c '^\*\*\*\*\*\*\*\*\*Cursor:DISKFREE, Rows:[1-9]' "$out")" -eq 2
check "-show lists the cursors" grep -q '^cursors: .*SRVSTAT .*ZEMENGS' "$out"
# The database access programs.
check "zemsql's statement" grep -q '^Adaptive Server Enterprise/16.0' "$out"
check "zem2sql's procedure rows" grep -Eq '^master +26.0 MB +data and log +9472' "$out"
check "zemsql's space lines: seven fields" \
  test "$(grep -Ec '^(master 1|tempdb 2)( -?[0-9]+){5}$' "$out")" -eq 2
check "zem2sql's space lines: ten fields" \
  test "$(grep -Ec '^(master 1|tempdb 2)( -?[0-9]+){8}$' "$out")" -eq 2
check "the channel's row" grep -q '^!D Adaptive Server' "$out"
check "the channel's last answer releases the connection" grep -Eq '^!I S 0000 .* N$' "$out"
# zovivpt.
check "-testpass reads the password back, shown by its length" \
  grep -q -- '^-- Decrypted password is (7) \*\*\*$' "$out"
check "the plain password is on no line" test -z "$(grep -E '(^|[^=])zovdemo' "$out")"
check "-zemdb's channel child answered test_C" \
  grep -q -- '^-- (I) ->!I S 0000 0003 00000000 test_C   Y<-$' "$out"
check "the configured run ran itself for ZOVTDS" grep -q -- '-testpass -zem -zemdb' "$out"
check "the configured run's zemsql found the process id" grep -q -- '-- ->4242' "$out"
exit $((fails > 0))
