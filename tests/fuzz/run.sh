#!/usr/bin/env bash
# Runs one fuzz target for a fixed time over its seeds and kept regression inputs.
# Usage: run.sh TARGET_BINARY SEEDS_DIR REGRESSIONS_DIR WORK_DIR SECONDS
set -euo pipefail
target=$1 seeds=$2 regressions=$3 work=$4 seconds=$5
name=$(basename "$target")
corpus="$work/corpus/$name"
mkdir -p "$corpus" "$work/crashes/$name"
cp -n "$seeds/$name"/* "$corpus/" 2>/dev/null || true
# Every input that once failed is run first, on its own.
if [ -d "$regressions/$name" ] && [ -n "$(ls -A "$regressions/$name")" ]; then
  "$target" -runs=0 "$regressions/$name"/*
fi
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/crashes/$name/" "$corpus"
