#!/bin/sh
# Runs the C caller (its path is the argument) on named pipes in a private directory, and
# fails when the directory is not left empty. The pipe names hold the directory, so it lies
# under $TMPDIR only when that is short (a pipe path holds at most 99 characters), else
# under /tmp.
root="${TMPDIR:-/tmp}"
[ "${#root}" -le 16 ] || root=/tmp
d="$(mktemp -d "$root/zovcXXXXXX")" || exit 8
COLL_USESHM=0 COLL_PREFIX="$d" COLL_PREFIX_LOCAL="$d" "$1"
rc=$?
rmdir "$d" || rc=9
exit $rc
