#!/usr/bin/env bash
# Builds the benchmarks, runs them, times our tools against the reference tools
# on the same generated inputs (bench/report.py) and prints the report; with --write it also
# replaces docs/performance.md, so an ordinary run leaves the tree as it was.
# Usage: scripts/benchmark.sh [--write] [runs]   (whole-process runs per command, default 7)
# With GRELLAN_BENCH_BASELINE=PATH, the test build of a library at PATH (an older
# build/testpath/libgrellan.dylib) also runs the fallback benchmarks: the figures before.
# Needs no network: plistutil (libplist-utils), dmidecode, python3, unshare
# (util-linux) and /usr/bin/time (time) come with scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
write=false
if [ "${1:-}" = "--write" ]; then
  write=true
  shift
fi
runs="${1:-7}"

for tool in cmake ninja plistutil dmidecode python3 /usr/bin/time; do
  if ! command -v "$tool" >/dev/null; then
    echo "benchmark.sh: $tool is missing; run scripts/setup.sh first" >&2
    exit 1
  fi
done

cmake --preset bench >/dev/null
cmake --build --preset bench -j2

# The distribution's interpreter, as Debian ships it, where there is one.
python=/usr/bin/python3
[ -x "$python" ] || python="$(command -v python3)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
bin=build-bench/bin
"$bin/grellan_bench_tool" inputs "$work"
plist="$work/registry-dump.plist"
image="$work/memory.img"

"$bin/grellan_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$work/bench.json" --benchmark_out_format=json >/dev/null
if [ -n "${GRELLAN_BENCH_BASELINE:-}" ]; then
  GRELLAN_BENCH_LIBRARY="$GRELLAN_BENCH_BASELINE" "$bin/grellan_bench" \
    --benchmark_filter=BM_GetHardwareHash_Fallback --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/bench-baseline.json" --benchmark_out_format=json >/dev/null
fi

# Not named plistlib.py: the script's own directory comes first on the module path.
cat >"$work/read_plist.py" <<'PY'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    plistlib.load(f)
PY

# Each command: a label, then the command line. Their output goes nowhere.
commands=(
  "grellan_bench_tool parse" "$bin/grellan_bench_tool parse $plist"
  "plistutil" "plistutil -i $plist -o $work/out.plist"
  "python3 plistlib" "$python $work/read_plist.py $plist"
  "grellan_bench_tool scan" "$bin/grellan_bench_tool scan $image"
  "dmidecode -t 1,2,3,4" "dmidecode -d $image -t 1,2,3,4"
)

# The shipped probe and library read the image as their memory device where a
# private mount namespace can put it at /dev/mem; elsewhere the report says
# that the comparison was skipped.
run=(python3)
if bench/with-memory-image.sh "$image" true 2>/dev/null; then
  run=(bench/with-memory-image.sh "$image" python3)
fi

# bench/report.py runs the timed commands and writes the report from what it measured.
"${run[@]}" bench/report.py "$runs" "$work" "$plist" "$image" "${commands[@]}" >"$work/performance.md"

cat "$work/performance.md"
if $write; then
  cp "$work/performance.md" docs/performance.md
  echo "benchmark.sh: wrote docs/performance.md" >&2
else
  echo "benchmark.sh: docs/performance.md left as it is (--write replaces it)" >&2
fi
