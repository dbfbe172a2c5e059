#!/usr/bin/env bash
# The loop workload alone, as compare.sh times it against python3 and lua5.4.
#   bench/run/loop.sh [DRAVELIN] [ROUNDS]
exec "$(dirname "$0")/compare.sh" -r "${2:-5}" "${1:-build/release/dravelin}" loop
