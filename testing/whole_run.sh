#!/usr/bin/env bash
# Runs a test program whole in one process, its tests in a shuffled order, so that a test
# that passes only after (or only without) another fails here. The seed is printed; the
# same order again: ZOV_TEST_SEED=<seed> (or the program with --gtest_shuffle
# --gtest_random_seed=<seed>).
#   whole_run.sh PROGRAM [ARGUMENT...]
set -uo pipefail
program="$1"
shift
seed="${ZOV_TEST_SEED:-$(((RANDOM * 32768 + RANDOM) % 99999 + 1))}"
echo "$(basename "$program") whole, shuffled with seed $seed" \
  "(again: $program --gtest_shuffle --gtest_random_seed=$seed)"
# Memory that one test leaves for the next is no leak of the code under test; the leak
# check stays with the runs of one test each.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
exec "$program" --gtest_shuffle --gtest_random_seed="$seed" --gtest_brief=1 "$@"
