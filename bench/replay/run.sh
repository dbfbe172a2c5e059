#!/bin/sh
# Records a run of about N events with `dravelin run --record`, then, in the same run of this script, times
# `dravelin replay` of that recording against `jq -c .` over the same file and prints the time and peak memory
# of each. Usage: bench/replay/run.sh BUILD_DIR [N]
set -eu
build=${1:?usage: run.sh BUILD_DIR [N]}
events=${2:-100000}
bin="$build/dravelin"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# Each round logs once; with the start, two clock readings, the done pause and the end that is N events.
rounds=$((events - 5))
cat > "$dir/ticks.zem" <<PROGRAM
program ticks
out n

task main:
  n = 0
  loop max $rounds:
    n = n + 1
    log info "tick" {n}
PROGRAM
"$bin" run "$dir/ticks.zem" --record "$dir/run.jsonl" >/dev/null 2>&1
echo "recording: $(wc -l < "$dir/run.jsonl") events, $(wc -c < "$dir/run.jsonl") bytes"
# The replay prints every recorded log line on stderr, as it would on a terminal: both tools write to /dev/null.
for i in 1 2 3; do
  /usr/bin/time -o "$dir/time" -f "replay seconds=%e peak_kb=%M" "$bin" replay "$dir/run.jsonl" >/dev/null 2>&1 ||
    { echo "the replay failed"; exit 1; }
  cat "$dir/time"
  /usr/bin/time -o "$dir/time" -f "jq     seconds=%e peak_kb=%M" jq -c . "$dir/run.jsonl" >/dev/null
  cat "$dir/time"
done
