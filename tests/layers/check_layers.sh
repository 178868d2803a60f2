#!/usr/bin/env bash
# The layers, checked: every #include of every source file under <root> must be of a
# directory the including file's layer stands on. The libraries share one include root, so
# a wrong include compiles wherever nothing needs linking; this check is what keeps the
# layers honest. Prints each wrong include and exits 1; exits 0 when there is none.
#
#   check_layers.sh <root> [<build dir>]
#
# Rules:
#  1. A file includes headers of its own directory and of the directories its layer
#     stands on (the table below); nothing else of the tree.
#  2. A header in <dir>/tests/ is for the tests of <dir> alone: what several directories'
#     tests share lives in testing/.
#  3. Client-Library and DB-Library headers (<ctpublic.h>, <cspublic.h>, <sybfront.h>,
#     <sybdb.h>, and acquire/ctlib/ which wraps them) stay out of the engine's headers:
#     only the directories that talk to the server through them include them, and the
#     engine only in its .cpp files.
#  4. Library code sleeps through the runtime (runtime/sleep.h, runtime/platform.h), so
#     that tests can replace the clock: no sleep, usleep, nanosleep or sleep_for outside
#     runtime/ and the test code.
# Every directory that holds sources must be in the table: a new one is placed on purpose.
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 || ! -d $1 ]]; then
  echo "usage: check_layers.sh <source root> [<build dir>]" >&2
  exit 2
fi
root=$(cd "$1" && pwd)
# Generated sources are not the tree's: build/ and a build directory given are skipped.
build=$root/build
if [[ $# -eq 2 && -d $2 ]]; then build=$(cd "$2" && pwd); fi

# directory: the directories whose headers it may include, besides its own. Longest
# directory prefix wins. "<dir>:cpp" allows that directory's headers in .cpp files only;
# "<dir>/*" allows that directory and every directory under it; "<ct>" allows
# Client-Library's headers, "<ct.cpp>" in .cpp files only, "<db>"
# DB-Library's; a path with a file name allows that one header alone.
table='
runtime:
model:                  runtime
expr:                   runtime model
defs:                   runtime model expr
collector/rows:         runtime model expr defs
collector/transforms:   runtime model expr defs collector/rows acquire
collector/run:          runtime model expr defs collector/rows collector/transforms acquire comm
collector/distributors: runtime model expr defs collector/rows collector/transforms acquire comm collector/run
collector/startup:      runtime model expr defs collector/* acquire comm acquire/ctlib:cpp <ct.cpp>
collector:              runtime model expr defs collector/* acquire comm acquire/ctlib:cpp <ct.cpp>
acquire:                runtime model expr defs collector/rows collector/transforms comm acquire/ctlib:cpp <ct.cpp>
acquire/tests:          runtime model expr defs collector/* acquire comm acquire/ctlib:cpp <ct.cpp>
acquire/ctlib:          runtime <ct>
comm:                   runtime
dbaccess/common:        runtime model/db_specifics.h
dbaccess/zemsql:        runtime dbaccess/common acquire/ctlib <ct> model/db_specifics.h
dbaccess/zem2sql:       runtime dbaccess/common <db> model/db_specifics.h model/distrib.h
tools/probe:            runtime comm model
tools/ivpt:             runtime
tests/tds:              <ct> <db>
testing:                runtime model expr defs collector/* acquire comm tests/tds
bench:                  runtime model expr defs collector/* acquire acquire/ctlib comm dbaccess/common tests/tds testing <ct>
fuzz:                   runtime model expr defs collector/* acquire comm dbaccess/common testing
'
# Notes on the exceptions:
#  - Inside collector/ the sub-directories stand in one order, each on the ones before it:
#    rows < transforms < run < distributors < startup (the program's main and the tests on
#    all). collector and acquire are one library: the engine runs the SQL cursors and they
#    call back into it, so acquire stands on rows and transforms (the row builder and the
#    transforms a fetch applies), and transforms and the layers above stand on acquire;
#    acquire's tests run the whole engine. Client-Library reaches it only in .cpp files
#    (acquire/ctlib headers include <ctpublic.h>), so the engine's headers compile without it.
#  - dbaccess stands on the runtime; of model it takes only records it shares by design:
#    db_specifics (each program defines its own database_info, which the channel loop of
#    dbaccess/common reads) and, in zem2sql, distrib (its connection record is the
#    collector's distributor record).
#  - tools/probe decodes the status records, so it stands on comm and model.
#  - The tests of a directory may include, besides what the directory may, testing/ and
#    the scripted test server (tests/tds).

find "$root" \( -path "$root/build" -o -path "$build" -o -name '.*' -a ! -path "$root" \) \
  -prune -o -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print |
  sed "s|^$root/||" | LC_ALL=C sort |
  (cd "$root" && xargs -r grep -HnE '^[[:space:]]*#[[:space:]]*include|([^_[:alnum:]]|^)(u?sleep|nanosleep|sleep_for)[[:space:]]*\(' /dev/null) |
  LC_ALL=C awk -v table="$table" '
function unit_of(path,   best, d) {
  best = ""
  for (d in allowed)
    if (index(path, d "/") == 1 && length(d) > length(best)) best = d
  return best
}
# The directory whose tests/ holds path ("" when path is not in a tests/ directory).
function tests_owner(path,   p) {
  p = path
  if (index(p, "tests/") == 1) p = substr(p, 7)  # tests/tds/... is a directory of its own
  if (match(p, /(^|\/)tests\//) == 0) return ""
  return substr(path, 1, length(path) - length(p) + RSTART - 1)
}
function is_test_code(path) {
  return tests_owner(path) != "" || index(path, "testing/") == 1 ||
         index(path, "bench/") == 1 || index(path, "fuzz/") == 1
}
function may(u, what, file,   list, n, i, a) {
  list = allowed[u]
  n = split(list, a, " ")
  for (i = 1; i <= n; ++i) {
    if (a[i] == what) return 1
    # "<dir>/*": the directory and every directory under it.
    if (a[i] ~ /\/\*$/ && (what == substr(a[i], 1, length(a[i]) - 2) ||
                           index(what, substr(a[i], 1, length(a[i]) - 1)) == 1)) return 1
    if (a[i] == what ":cpp" && file ~ /\.(cpp|c)$/) return 1
    if (a[i] == "<ct.cpp>" && what == "<ct>" && file ~ /\.(cpp|c)$/) return 1
  }
  return 0
}
function bad(file, line, text) {
  printf "%s:%s: %s\n", file, line, text
  ++faults
}
BEGIN {
  n = split(table, lines, "\n")
  for (i = 1; i <= n; ++i) {
    if (lines[i] !~ /:/) continue
    d = lines[i]; sub(/:.*/, "", d)
    rest = lines[i]; sub(/^[^:]*:[[:space:]]*/, "", rest)
    allowed[d] = rest
  }
  faults = 0
}
{
  # file:line:text
  file = $0; sub(/:.*/, "", file)
  rest = substr($0, length(file) + 2)
  line = rest; sub(/:.*/, "", line)
  text = substr(rest, length(line) + 2)
  u = unit_of(file)
  if (u == "") {
    if (!(file in unplaced)) bad(file, 1, "directory not in the layer table")
    unplaced[file] = 1
    next
  }
  test_code = is_test_code(file)
  if (text !~ /^[[:space:]]*#[[:space:]]*include/) {
    # A call of a sleep outside the runtime and the tests.
    if (u == "runtime" || test_code) next
    code = text
    sub(/\/\/.*/, "", code)
    if (code ~ /([^_[:alnum:]]|^)(u?sleep|nanosleep|sleep_for)[[:space:]]*\(/)
      bad(file, line, "sleeps past the runtime (use u_sleep or u_sleep_ms)")
    next
  }
  if (match(text, /<[^>]*>/)) {
    h = substr(text, RSTART + 1, RLENGTH - 2)
    if (h == "ctpublic.h" || h == "cspublic.h" || h == "bkpublic.h" || h == "cstypes.h")
      what = "<ct>"
    else if (h == "sybdb.h" || h == "sybfront.h")
      what = "<db>"
    else
      next
    if (!may(u, what, file))
      bad(file, line, "includes <" h ">, which stays out of " u "/" \
          (may(u, what, "x.cpp") ? " headers (include it in the .cpp)" : ""))
    next
  }
  if (!match(text, /"[^"]*"/)) next
  h = substr(text, RSTART + 1, RLENGTH - 2)
  if (h !~ /\//) {
    # Beside the including file.
    d = file; sub(/[^\/]*$/, "", d)
    h = d h
  }
  if (h ~ /(^|\/)\.\.?\//) {
    bad(file, line, "includes \"" h "\": name headers from the source root")
    next
  }
  owner = tests_owner(h)
  if (owner != "") {
    if (index(file, owner "/tests/") != 1)
      bad(file, line, "includes \"" h "\": a test aid of " owner "/tests; shared aids live in testing/")
    next
  }
  hu = unit_of(h)
  if (hu == "") {
    bad(file, line, "includes \"" h "\", which is in no directory of the layer table")
    next
  }
  if (hu == u) next
  if (test_code && (hu == "testing" || hu == "tests/tds")) next
  if (may(u, hu, file) || may(u, h, file)) next
  bad(file, line, "includes \"" h "\": " u " does not stand on " hu \
      (may(u, hu, "x.cpp") ? " in its headers (include it in the .cpp)" : ""))
}
END {
  if (faults > 0) {
    printf "%d wrong include(s); the layers are in tests/layers/check_layers.sh\n", faults
    exit 1
  }
}'
