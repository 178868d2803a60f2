#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer
# (warnings as errors) and runs every test, then builds the release preset (warnings as
# errors too: a break that only the optimiser sees fails here). Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
cmake --preset asan
cmake --build --preset asan -j "$jobs"
export TZ=UTC LC_ALL=C
# Leaks are findings too; a child that the tests end on purpose is not a leak report.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
if ! ctest --preset asan -j "$jobs"; then
  # A test that failed only because the machine was saturated passes when run alone; one
  # that fails again is a failure. Every test that needed this is named above: report it.
  echo "re-running the failed tests once, one at a time"
  ctest --preset asan --rerun-failed -j 1
fi
cmake --preset release
cmake --build --preset release -j "$jobs"
