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
ctest --preset asan -j "$jobs"
cmake --preset release
cmake --build --preset release -j "$jobs"
