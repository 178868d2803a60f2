#!/usr/bin/env bash
# The layer check, checked: on a small tree whose includes all keep the layers it passes;
# with one wrong include planted (a case of the table below) it fails and names the file.
# Given the source root too, the same on a copy of the real tree: it passes, and each
# include planted against the order of collector/'s sub-directories is refused.
#
#   check_layers_test.sh <check_layers.sh> [<source root>]
set -euo pipefail
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# put <tree> <path> <lines...>: a source file of the given lines.
put() {
  local tree=$1 path=$2
  shift 2
  mkdir -p "$tree/$(dirname "$path")"
  printf '%s\n' "$@" >"$tree/$path"
}

# A tree that keeps every rule, including each exception of the table.
clean() {
  local t=$1
  put "$t" runtime/a.h '#pragma once'
  put "$t" runtime/a.cpp '#include "runtime/a.h"' '#include <time.h>' 'void f() { nanosleep(0, 0); }'
  put "$t" model/m.h '#pragma once' '#include "runtime/a.h"'
  put "$t" model/m.cpp '#include "m.h"'
  put "$t" model/db_specifics.h '#pragma once'
  put "$t" model/distrib.h '#pragma once'
  put "$t" expr/e.h '#include "model/m.h"'
  put "$t" defs/d.h '#include "expr/e.h"'
  put "$t" comm/c.h '#include "runtime/a.h"'
  put "$t" acquire/ctlib/zemctutl.h '#include <ctpublic.h>'
  put "$t" acquire/s.h '#include "collector/transforms/t.h"' '#include "collector/rows/r.h"' \
    '#include "defs/d.h"'
  put "$t" acquire/s.cpp '#include <ctpublic.h>' '#include "acquire/ctlib/zemctutl.h"'
  put "$t" collector/k.h '#include "acquire/s.h"' '#include "comm/c.h"' '#include "collector/startup/s.h"'
  put "$t" collector/rows/r.h '#include "defs/d.h"'
  put "$t" collector/transforms/t.h '#include "collector/rows/r.h"' '#include "acquire/s.h"'
  put "$t" collector/run/u.h '#include "collector/transforms/t.h"' '#include "comm/c.h"'
  put "$t" collector/distributors/d.h '#include "collector/run/u.h"' '#include "collector/rows/r.h"'
  put "$t" collector/startup/s.h '#include "collector/distributors/d.h"'
  put "$t" acquire/tests/s_test.cpp '#include "collector/startup/s.h"' '#include "acquire/s.h"'
  put "$t" collector/k.cpp '#include "runtime/sleep.h"' 'void g() { u_sleep(3); }  // not sleep(3)'
  put "$t" collector/tests/aid.h '#include "collector/k.h"'
  put "$t" collector/tests/k_test.cpp '#include "collector/tests/aid.h"' '#include "testing/t.h"' \
    '#include "tests/tds/srv.h"' 'void h() { usleep(1); }'
  put "$t" dbaccess/common/loop.cpp '#include "model/db_specifics.h"'
  put "$t" dbaccess/zemsql/z.cpp '#include <ctpublic.h>' '#include "acquire/ctlib/zemctutl.h"' \
    '#include "dbaccess/common/loop.h"'
  put "$t" dbaccess/zem2sql/z2.h '#include <sybdb.h>' '#include "model/distrib.h"'
  put "$t" tools/probe/p.cpp '#include "comm/c.h"' '#include "model/m.h"'
  put "$t" tools/ivpt/i.cpp '#include "runtime/a.h"'
  put "$t" tests/tds/srv.h '#pragma once'
  put "$t" tests/tds/tests/srv_test.cpp '#include "tests/tds/srv.h"' '#include <sybdb.h>'
  put "$t" testing/t.h '#include "defs/d.h"' '#include "collector/run/u.h"'
  put "$t" bench/b.cpp '#include "collector/k.h"' '#include "testing/t.h"' '#include <ctpublic.h>'
  put "$t" fuzz/f.cpp '#include "acquire/s.h"' '#include "testing/t.h"'
  put "$t" build/asan/generated.cpp '#include "anything/at/all.h"'
}

# path | line | what the check must say of it
cases='
runtime/w.cpp|#include "model/m.h"|runtime does not stand on model
model/w.h|#include "expr/e.h"|model does not stand on expr
expr/w.cpp|#include "defs/d.h"|expr does not stand on defs
defs/w.h|#include "collector/k.h"|defs does not stand on collector
comm/w.cpp|#include "model/m.h"|comm does not stand on model
acquire/ctlib/w.cpp|#include "model/m.h"|acquire/ctlib does not stand on model
dbaccess/zem2sql/w.h|#include "defs/d.h"|dbaccess/zem2sql does not stand on defs
dbaccess/common/w.cpp|#include "model/m.h"|dbaccess/common does not stand on model
dbaccess/common/w.cpp|#include "model/distrib.h"|dbaccess/common does not stand on model
tools/ivpt/w.cpp|#include "comm/c.h"|tools/ivpt does not stand on comm
tools/probe/w.cpp|#include "defs/d.h"|tools/probe does not stand on defs
bench/w.cpp|#include "collector/tests/aid.h"|a test aid of collector/tests
fuzz/w.cpp|#include "collector/tests/aid.h"|a test aid of collector/tests
acquire/tests/w_test.cpp|#include "collector/tests/aid.h"|a test aid of collector/tests
acquire/w.h|#include <ctpublic.h>|stays out of acquire/ headers
collector/w.h|#include "acquire/ctlib/zemctutl.h"|collector does not stand on acquire/ctlib
dbaccess/zem2sql/w.cpp|#include <ctpublic.h>|stays out of dbaccess/zem2sql/
dbaccess/zemsql/w.cpp|#include <sybdb.h>|stays out of dbaccess/zemsql/
collector/w.cpp|void f() { sleep(3); }|sleeps past the runtime
defs/w.cpp|void f() { std::this_thread::sleep_for(x); }|sleeps past the runtime
model/w.cpp|#include "../expr/e.h"|name headers from the source root
model/w.cpp|#include "nowhere/x.h"|in no directory of the layer table
newdir/w.cpp|#include "runtime/a.h"|directory not in the layer table
collector/rows/w.cpp|#include "collector/transforms/t.h"|collector/rows does not stand on collector/transforms
collector/rows/w.cpp|#include "acquire/s.h"|collector/rows does not stand on acquire
collector/transforms/w.cpp|#include "collector/run/u.h"|collector/transforms does not stand on collector/run
collector/run/w.cpp|#include "collector/distributors/d.h"|collector/run does not stand on collector/distributors
collector/run/w.cpp|#include "collector/startup/s.h"|collector/run does not stand on collector/startup
collector/distributors/w.cpp|#include "collector/startup/s.h"|collector/distributors does not stand on collector/startup
acquire/w.cpp|#include "collector/run/u.h"|acquire does not stand on collector/run
acquire/w.cpp|#include "collector/k.h"|acquire does not stand on collector
'

failed=0
clean "$work/clean"
if ! out=$("$check" "$work/clean" 2>&1); then
  echo "FAIL: the clean tree is refused:"
  echo "$out"
  failed=1
fi

n=0
while IFS='|' read -r path line expect; do
  [[ -z $path ]] && continue
  n=$((n + 1))
  # Planted in the clean tree and taken out again after the check.
  tree="$work/clean"
  put "$tree" "$path" "$line"
  if out=$("$check" "$tree" 2>&1); then
    echo "FAIL: $path with '$line' passes"
    failed=1
  elif ! grep -qF "$path:1: " <<<"$out" || ! grep -qF "$expect" <<<"$out" ||
    [[ $(grep -c ': ' <<<"$out") -ne 1 ]]; then
    echo "FAIL: $path with '$line': expected one fault saying '$expect', got:"
    echo "$out"
    failed=1
  fi
  rm -f "${tree:?}/$path"
  rmdir "$tree/newdir" 2>/dev/null || true
done <<<"$cases"
echo "$n planted faults checked"

# The real tree, copied: it keeps the order, and an include against it planted in a real
# file (the last line of the file) is the one fault found.
if [[ $# -ge 2 ]]; then
  src=$2
  real="$work/real"
  mkdir -p "$real"
  (cd "$src" && find . \( -name build -o -name '.*' -a ! -name . \) -prune -o -type f \
    \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print | tar cf - -T -) | tar xf - -C "$real"
  if ! out=$("$check" "$real" 2>&1); then
    echo "FAIL: the copy of the source tree is refused:"
    echo "$out"
    failed=1
  fi
  real_cases='
collector/rows/row_store.cpp|#include "collector/transforms/decode.h"|collector/rows does not stand on collector/transforms
collector/rows/cluster.cpp|#include "collector/run/cursor_run.h"|collector/rows does not stand on collector/run
collector/transforms/decode.cpp|#include "collector/run/cursor_run.h"|collector/transforms does not stand on collector/run
collector/run/schedule.cpp|#include "collector/startup/startup.h"|collector/run does not stand on collector/startup
collector/distributors/history.cpp|#include "collector/startup/engine_hooks.h"|collector/distributors does not stand on collector/startup
acquire/sql_cursor.cpp|#include "collector/distributors/history.h"|acquire does not stand on collector/distributors
'
  while IFS='|' read -r path line expect; do
    [[ -z $path ]] && continue
    n=$((n + 1))
    cp "$real/$path" "$work/saved"
    printf '%s\n' "$line" >>"$real/$path"
    at=$(wc -l <"$real/$path")
    if out=$("$check" "$real" 2>&1); then
      echo "FAIL: $path with '$line' passes"
      failed=1
    elif ! grep -qF "$path:$at: " <<<"$out" || ! grep -qF "$expect" <<<"$out" ||
      [[ $(grep -c ': ' <<<"$out") -ne 1 ]]; then
      echo "FAIL: $path with '$line': expected one fault saying '$expect', got:"
      echo "$out"
      failed=1
    fi
    cp "$work/saved" "$real/$path"
  done <<<"$real_cases"
  echo "$n planted faults checked, with the copy of the source tree"
fi
exit $failed
