#!/usr/bin/env bash
# Times the interpreter workloads of this folder under `dravelin run` against the same work in python3 and
# lua5.4, in one run: the sides alternate within every round, each side's printed total is checked against
# python3's, and each one's best and median CPU time (user + sys) and peak memory are printed, with the ratio of
# every dravelin to python3 and, over all workloads, the geometric mean of those ratios.
#   bench/run/compare.sh [-r ROUNDS] [-b BASELINE] [DRAVELIN] [WORKLOAD...]
# DRAVELIN defaults to build/release/dravelin; BASELINE is another dravelin (an older build) timed beside it.
# WORKLOADs default to every `.zem` here with its `.py` and `.lua`. Python is the distribution's /usr/bin/python3.
# lua5.4 is installed here when missing (CI does not run this).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
rounds=5
baseline=""
while getopts "r:b:" opt; do
  case $opt in
    r) rounds=$OPTARG ;;
    b) baseline=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
bin=${1:-build/release/dravelin}
[ $# -gt 0 ] && shift
workloads=("$@")
if [ ${#workloads[@]} -eq 0 ]; then
  for f in "$here"/*.zem; do workloads+=("$(basename "$f" .zem)"); done
fi
if ! command -v lua5.4 >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get install -y -qq --no-install-recommends lua5.4 >/dev/null
fi
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)

sides=(dravelin)
[ -n "$baseline" ] && sides+=(baseline)
sides+=(python3 lua5.4)

out=$(mktemp)
timing=$(mktemp)
trap 'rm -f "$out" "$timing"' EXIT

# The total a side printed: the `total` output of a dravelin outcome, else the last line.
total_of() {
  if grep -q '"total"' "$out"; then
    grep -o '"total": *[^,}]*' "$out" | head -1 | sed 's/.*: *//'
  else
    tail -1 "$out"
  fi
}

# One timed run of a side on a workload: "<cpu seconds> <peak KiB> <total>".
measure() {
  local side=$1 work=$2
  local cmd
  case $side in
    dravelin) cmd=("$bin" run "$here/$work.zem") ;;
    baseline) cmd=("$baseline" run "$here/$work.zem") ;;
    python3) cmd=("$python" "$here/$work.py") ;;
    lua5.4) cmd=(lua5.4 "$here/$work.lua") ;;
  esac
  if ! /usr/bin/time -o "$timing" -f "%U %S %M" "${cmd[@]}" >"$out" 2>/dev/null; then
    echo "$side failed on $work" >&2
    cat "$out" >&2
    exit 1
  fi
  read -r user sys kib <"$timing"
  echo "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }') $kib $(total_of)"
}

declare -A times mem totals logs
printf '%-8s %-9s %7s %7s %9s %12s\n' workload side best median "peak KiB" "best/python3"
for work in "${workloads[@]}"; do
  expected=""
  for ((r = 0; r < rounds; r++)); do
    for side in "${sides[@]}"; do
      read -r cpu kib total < <(measure "$side" "$work")
      if [ "$side" = python3 ] && [ -z "$expected" ]; then expected=$total; fi
      times[$side]+="$cpu "
      mem[$side]=$kib
      totals[$side]=$total
    done
    for side in "${sides[@]}"; do
      if [ "${totals[$side]}" != "$expected" ]; then
        echo "$side printed ${totals[$side]} for $work, python3 printed $expected" >&2
        exit 1
      fi
    done
  done
  declare -A best median
  for side in "${sides[@]}"; do
    sorted=($(tr ' ' '\n' <<<"${times[$side]}" | grep . | sort -n))
    best[$side]=${sorted[0]}
    median[$side]=${sorted[$((${#sorted[@]} / 2))]}
    times[$side]=""
  done
  for side in "${sides[@]}"; do
    ratio=$(awk -v a="${best[$side]}" -v b="${best[python3]}" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
    printf '%-8s %-9s %6ss %6ss %9s %12s\n' "$work" "$side" "${best[$side]}" "${median[$side]}" "${mem[$side]}" "$ratio"
  done
  for side in "${sides[@]}"; do
    [ "$side" = python3 ] && continue
    logs[$side]+="$(awk -v a="${best[$side]}" -v b="${best[python3]}" 'BEGIN { print log((a > 0 ? a : 0.005) / b) }') "
  done
  unset best median
done
for side in "${sides[@]}"; do
  [ "$side" = python3 ] && continue
  echo "geometric mean of best/python3, $side: $(tr ' ' '\n' <<<"${logs[$side]}" | grep . |
    awk '{ s += $1; n++ } END { printf "%.2f", exp(s / n) }')"
done
