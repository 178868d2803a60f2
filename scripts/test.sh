#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer
# (warnings as errors) and runs every test once: each test in a process of its own, and each
# test program whole in one shuffled process (the seed is printed). A test that fails fails
# the run; nothing is run again. The tests run in a private IPC namespace where the system
# allows one, and the run fails when they leave a shared-memory segment, a semaphore set or
# a message queue there. Then the layout of every source is checked against .clang-format
# (scripts/format-check.sh), the release preset is built (warnings as errors too: a break
# that only the optimiser sees fails here) and installed into a scratch directory, and the
# fuzz harnesses are built with clang and libFuzzer (scripts/fuzz.sh in its build-only
# mode), so that the fuzzing command keeps building where GCC lets pass what clang refuses.
# Exits non-zero on any failure, after naming it.
set -euo pipefail
cd "$(dirname "$0")/.."

# The part that runs inside the private IPC namespace: ctest, then what it left.
if [ "${1:-}" = --ctest-in-namespace ]; then
  rc=0
  ctest --preset asan -j "$2" || rc=1
  left="$(ipcs -m -s -q | awk '/^0x/')"
  if [ -n "$left" ]; then
    echo "the tests left IPC objects behind:"
    ipcs -m -s -q
    rc=1
  fi
  exit "$rc"
fi

scripts/install-deps.sh
jobs="${JOBS:-$(nproc)}"  # JOBS=n: fewer on a shared machine
failed=()
started=$SECONDS

cmake --preset asan
cmake --build --preset asan -j "$jobs"
export TZ=UTC LC_ALL=C
# Leaks are findings too; a child that the tests end on purpose is not a leak report.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# A private IPC namespace: as root, or as a user where user namespaces are allowed.
ns=()
if unshare --ipc true 2>/dev/null; then
  ns=(unshare --ipc)
elif unshare --user --map-current-user --ipc true 2>/dev/null; then
  ns=(unshare --user --map-current-user --ipc)
fi
if ((${#ns[@]})); then
  "${ns[@]}" "$PWD/scripts/test.sh" --ctest-in-namespace "$jobs" || failed+=("ctest (or IPC objects left)")
else
  # Other programs of the machine make and remove IPC objects meanwhile: the objects that
  # are new after the run are named, but they do not fail it.
  echo "unshare --ipc is refused here: IPC objects the tests leave are not checked"
  before="$(ipcs -m -s -q | awk '/^0x/ { print $2 }' | sort)"
  ctest --preset asan -j "$jobs" || failed+=("ctest")
  new="$(comm -13 <(echo "$before") <(ipcs -m -s -q | awk '/^0x/ { print $2 }' | sort))"
  [ -z "$new" ] || echo "IPC ids that are new since the tests began (maybe not theirs): $new"
fi
echo "tests took $((SECONDS - started)) s since the start of the script"

scripts/format-check.sh || failed+=("format check (scripts/format-check.sh)")

cmake --preset release
cmake --build --preset release -j "$jobs"
# The README's install command on this build: every program and zovtds land in bin/.
inst="$(mktemp -d)"
if cmake --install build/release --prefix "$inst" >"$inst.log" 2>&1; then
  for program in zemcoll zemsql zem2sql zovprobe zovivpt zovtds; do
    [ -x "$inst/bin/$program" ] || failed+=("install: bin/$program missing")
  done
else
  cat "$inst.log"
  failed+=("cmake --install build/release")
fi
rm -rf "$inst" "$inst.log"

FUZZ_JOBS="$jobs" scripts/fuzz.sh all 0 || failed+=("fuzz harness build (scripts/fuzz.sh all 0)")

echo "scripts/test.sh took $((SECONDS - started)) s"
if ((${#failed[@]})); then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "all passed"
