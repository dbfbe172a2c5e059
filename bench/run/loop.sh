#!/usr/bin/env bash
# Times loop.zem under `dravelin run` against the same rounds in python3 (loop.py) and lua5.4 (loop.lua), in one
# run, alternating the three for a number of rounds; prints each one's best and median wall time and peak memory.
#   bench/run/loop.sh [DRAVELIN] [ROUNDS]
# DRAVELIN defaults to build/release/dravelin. lua5.4 is installed here when missing (CI does not run this).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-build/release/dravelin}
rounds=${2:-5}
if ! command -v lua5.4 >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get install -y -qq --no-install-recommends lua5.4 >/dev/null
fi
python=$(command -v /usr/bin/python3 || command -v python3)

# One timed run: "<seconds> <peak KiB>", the command's output checked against the expected total.
measure() {
  local out
  out=$( { /usr/bin/time -f "%e %M" "$@" >/tmp/loop_bench_out.$$; } 2>&1 | tail -1)
  grep -q 500003500002 /tmp/loop_bench_out.$$ || { echo "wrong result from $*" >&2; cat /tmp/loop_bench_out.$$ >&2; exit 1; }
  echo "$out"
}
declare -A times mem
for ((r = 0; r < rounds; r++)); do
  for side in dravelin python3 lua5.4; do
    case $side in
      dravelin) m=$(measure "$bin" run "$here/loop.zem") ;;
      python3) m=$(measure "$python" "$here/loop.py") ;;
      lua5.4) m=$(measure lua5.4 "$here/loop.lua") ;;
    esac
    times[$side]+="${m% *} "
    mem[$side]=${m#* }
  done
done
rm -f /tmp/loop_bench_out.$$
printf '%-10s %8s %8s %10s\n' side best median "peak KiB"
for side in dravelin python3 lua5.4; do
  sorted=($(tr ' ' '\n' <<<"${times[$side]}" | grep . | sort -n))
  printf '%-10s %7ss %7ss %10s\n' "$side" "${sorted[0]}" "${sorted[$(( ${#sorted[@]} / 2 ))]}" "${mem[$side]}"
done
