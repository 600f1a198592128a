#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a
# bounded time, starting from a copy of its checked-in seed corpus.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
./scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
for corpus in fuzz/corpus/*/; do
  target="$(basename "$corpus")"
  mkdir -p "$work/$target"
  cp "$corpus"* "$work/$target/"
  echo "== $target for ${seconds}s"
  build-fuzz/bin/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$work/$target-" "$work/$target" 2>"$work/$target.log" || {
    tail -n 60 "$work/$target.log"
    echo "$target: fuzzer found a fault; the input is in the log above" >&2
    exit 1
  }
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$work/$target.log" | sed "s/^/$target /"
done
