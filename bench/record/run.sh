#!/bin/sh
# Writes and reads a recording of N events with record_bench, then runs `jq -c .` over the same file, in the same
# run; prints the times and the peak memory of each. Usage: bench/record/run.sh BUILD_DIR [N]
set -eu
build=${1:?usage: run.sh BUILD_DIR [N]}
events=${2:-100000}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
/usr/bin/time -f 'record_bench peak_kb=%M' "$build/bench/record_bench" --events "$events" "$dir/run.jsonl"
/usr/bin/time -f 'jq seconds=%e peak_kb=%M' jq -c . "$dir/run.jsonl" >/dev/null
