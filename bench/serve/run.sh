#!/usr/bin/env bash
# SDK bridge benchmark: capability round trips answered by the json-rpc-2.0 library over stdio, against the same
# number of request/response pairs between two plain node processes over a pipe, in the same run. See README.md.
#
# Usage: bench/serve/run.sh [N]      (default: 10000 round trips)
# Environment:
#   BUILD  a Release build directory with benchmarks (default: build/h-bench-serve, configured and built here)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
count="${1:-10000}"
build="${BUILD:-$root/build/h-bench-serve}"

if [ ! -x "$build/bench/host_bench" ] || [ ! -x "$build/dravelin" ]; then
  echo "building $build" >&2
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVELIN_TESTS=OFF -DDRAVELIN_BENCH=ON >/dev/null
  cmake --build "$build" -j3 --target dravelin host_bench >/dev/null
fi
[ -d "$root/tests/node_modules/json-rpc-2.0" ] || "$root/scripts/install-deps"
export NODE_PATH="$root/tests/node_modules"

for round in 1 2 3; do
  echo "round $round"
  node "$here/round_trips.js" pipe "$count"
  node "$here/round_trips.js" host "$build/bench/host_bench" "$count"
  node "$here/round_trips.js" serve "$build/dravelin" "$count"
done
