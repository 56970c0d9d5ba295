#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer + UndefinedBehaviorSanitizer
# and runs each for a bounded time, starting from seeds that the project itself writes.
#   scripts/fuzz.sh [seconds per target] [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
dir=${2:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DBREVAK_FUZZ=ON -DBREVAK_SANITIZE=address,undefined \
  -DBREVAK_BENCH=OFF >/dev/null
targets=$(ninja -C "$dir" -t targets all | sed -n 's/^\([a-z_0-9]*_fuzzer\): .*/\1/p' | grep -v "^cmake_" | sort -u)
replays=$(echo "$targets" | sed 's/_fuzzer$/_replay/')
# shellcheck disable=SC2086
cmake --build "$dir" -j"$(nproc)" --target $targets $replays
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
for t in $targets; do
  name=${t%_fuzzer}
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus"
  "$dir/fuzz/${name}_replay" --seeds "$corpus" >/dev/null
  # Room for the largest seed plus growth (three profiles without the store's reserved block are
  # some 300 KB, a library of a hundred macros 310 KB).
  max_len=$(($(find "$corpus" -type f -printf '%s\n' | sort -n | tail -1) + 4096))
  echo "== $name: ${seconds}s, max_len $max_len"
  log="$dir/corpus/$name.log"
  status=0
  "$dir/fuzz/$t" "$corpus" -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=4096 \
    -print_final_stats=1 >"$log" 2>&1 || status=$?
  grep -E "^stat::(number_of_executed_units|peak_rss_mb)" "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -60 "$log"
    echo "fuzz target $name failed"
    exit 1
  fi
done
