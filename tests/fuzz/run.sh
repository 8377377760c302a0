#!/usr/bin/env bash
# Runs one fuzz target for a fixed time over its seeds and kept regression inputs.
# Usage: run.sh TARGET_BINARY SEEDS_DIR REGRESSIONS_DIR WORK_DIR SECONDS
# Fails on any sanitizer report, even one a build that recovers from it printed and went on.
set -euo pipefail
target=$1 seeds=$2 regressions=$3 work=$4 seconds=$5
name=$(basename "$target")
corpus="$work/corpus/$name"
log="$work/$name.log"
mkdir -p "$corpus" "$work/crashes/$name"
cp -n "$seeds/$name"/* "$corpus/" 2>/dev/null || true
# Every finding stops the run: the first report is the one to read.
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
export ASAN_OPTIONS="halt_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

# Runs the target with its output shown and kept in the log; fails when it fails or when the
# log holds a sanitizer's report.
run() {
  local status=0
  "$target" "$@" 2>&1 | tee "$log" || status=$?
  if grep -Eq 'runtime error:|(ERROR|WARNING): [A-Za-z]*Sanitizer' "$log"; then
    echo "run.sh: $name: a sanitizer reported a finding (see above)" >&2
    return 1
  fi
  return "$status"
}

# Every input that once failed is run first, on its own.
inputs=()
if [ -d "$regressions/$name" ]; then
  for input in "$regressions/$name"/*; do
    [ -f "$input" ] && inputs+=("$input")
  done
fi
if [ ${#inputs[@]} -gt 0 ]; then
  run -runs=0 "${inputs[@]}"
fi
run -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/crashes/$name/" "$corpus"
