#!/usr/bin/env bash
# Builds the libFuzzer targets (cmake preset `fuzz`: clang, ASan + UBSan) and runs
# each for a bounded time from its seed corpus; fails on any finding.
#
#   fuzz/run.sh [seconds-per-target]      default 60
#
# Environment: BUILD_DIR (default build/fuzz), TARGETS (default all five),
# RSS_LIMIT_MB (default 2048), TIMEOUT (seconds per input, default 10).
# New inputs go to $BUILD_DIR/corpus/<target>; the committed seeds stay as they
# are. A crash, leak, timeout or failed check leaves its input in
# $BUILD_DIR/artifacts/ and makes the script exit 1.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=${BUILD_DIR:-build/fuzz}
targets=${TARGETS:-"fuzz_parse fuzz_roundtrip fuzz_query fuzz_edit fuzz_cpp"}
rss=${RSS_LIMIT_MB:-2048}
timeout=${TIMEOUT:-10}

cmake --preset fuzz -B "$build" >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $targets

mkdir -p "$build/artifacts"
failed=0
total=0
summary=""
for target in $targets; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  log="$build/$target.log"
  echo "== $target: ${seconds}s"
  status=0
  "$build/fuzz/$target" "$work" "fuzz/corpus/$target" -dict=fuzz/xml.dict \
    -max_total_time="$seconds" -rss_limit_mb="$rss" -timeout="$timeout" \
    -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  runs=${runs:-0}
  total=$((total + runs))
  units=$(find "$work" -type f | wc -l)
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "!! $target found a fault (exit $status); log: $log"
    grep -E "ERROR|FUZZ CHECK|SUMMARY|Test unit written" "$log" | head -20 || true
  fi
  summary+=$(printf '%-16s %12s executions  %6s corpus units  %s' "$target" "$runs" "$units" \
    "$([ "$status" -eq 0 ] && echo ok || echo FAILED)")$'\n'
done

echo "== fuzzing summary (${seconds}s per target)"
printf '%s' "$summary"
printf '%-16s %12s executions\n' "total" "$total"
exit "$failed"
