#!/usr/bin/env bash
# scripts/fuzz.sh [READER|all] [SECONDS]
#
# Builds the fuzz harnesses (fuzz/) with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build/fuzz, then runs one harness or all of them in turn for
# SECONDS each (default 60). New corpus entries are kept in build/fuzz/corpus/<reader>
# (the seeds in fuzz/corpus/<reader> are only read); findings (crash-, leak-, timeout-,
# oom- files) land in build/fuzz/findings/<reader>. A line per reader tells the executions
# run, the corpus size and the findings. Exits non-zero when a harness found something.
#
# SECONDS 0 only builds. Environment: FUZZ_JOBS build jobs (3); FUZZ_NO_BUILD=1 runs what is built;
# FUZZ_ARGS more libFuzzer options.
set -euo pipefail
cd "$(dirname "$0")/.."
reader=${1:-all}
seconds=${2:-60}

# clang and its fuzzer runtime, from Debian's packages.
packages=(clang libclang-rt-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})) || ! command -v clang++ >/dev/null; then
  echo "installing: ${missing[*]:-clang}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${packages[@]}"
fi

# Absolute paths: some harnesses work in a scratch directory of their own.
build=$PWD/build/fuzz
seeds=$PWD/fuzz/corpus
readers=()
for f in fuzz/*_fuzz.cpp; do
  name=$(basename "$f" _fuzz.cpp)
  if [ "$reader" = all ] || [ "$reader" = "$name" ]; then readers+=("$name"); fi
done
if ((${#readers[@]} == 0)); then
  echo "no harness named $reader (fuzz/<reader>_fuzz.cpp)" >&2
  exit 2
fi

if [ "${FUZZ_NO_BUILD:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOV_FUZZ=ON \
    -DZOV_BENCH=OFF >/dev/null
  targets=()
  for r in "${readers[@]}"; do targets+=(--target "fuzz_$r"); done
  cmake --build "$build" -j "${FUZZ_JOBS:-3}" "${targets[@]}"
fi
[ "$seconds" -gt 0 ] || exit 0

export TZ=UTC LC_ALL=C
status=0
printf '%-14s %12s %8s  %s\n' reader executions corpus findings
for r in "${readers[@]}"; do
  corpus="$build/corpus/$r"
  findings="$build/findings/$r"
  mkdir -p "$corpus" "$findings"
  log="$build/findings/$r.log"
  # -close_fd_mask=3: the readers' messages go nowhere; libFuzzer's own report stays.
  # shellcheck disable=SC2086
  "$build/fuzz/fuzz_$r" -max_total_time="$seconds" -timeout=10 -close_fd_mask=3 \
    -print_final_stats=1 -artifact_prefix="$findings/" ${FUZZ_ARGS:-} \
    "$corpus" "$seeds/$r" >"$log" 2>&1 || status=1
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  size=$(find "$corpus" "$seeds/$r" -type f | wc -l)
  found=$(find "$findings" -maxdepth 1 -type f \
            \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  ((found == 0)) || status=1
  printf '%-14s %12s %8s  %s\n' "$r" "${execs:-?}" "$size" "$found (log: $log)"
done
exit $status
