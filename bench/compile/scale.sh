#!/usr/bin/env bash
# Scaling benchmark: `dravelin check` on inputs of one adversarial shape (gen_shape.py) at doubling sizes.
# A pass that is linear in its input doubles its time when the size doubles; the `x` columns show the factor
# from the row before.
#
# Usage: bench/compile/scale.sh [SHAPE [SIZE...]]   (no shape: every shape at its default sizes)
# Environment:
#   DRAVELIN  binary to time (default: build/h-bench/dravelin, built when missing)
#   WORK      where inputs and results go (default: build/bench-scale)
#   TIMEOUT   seconds after which one run is stopped and reported as such (default 120)
#   PROFILE   1: also count instructions under callgrind (exact on a busy machine; slow)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
work="${WORK:-$root/build/bench-scale}"
limit="${TIMEOUT:-120}"

. "$root/bench/bench_binary.sh"
bench_binary "$root"
bin="$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")"
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install -y time)" >&2; exit 1; }

declare -A defaults=(
  [excerpts]="5000 10000 20000 40000"
  [one_line]="2000 4000 8000 16000"
  [branches]="2500 5000 10000 20000"
  [machine_chain]="2000 4000 8000 16000"
  [interpolation]="40 80 160 320"
  [interpolation_depth]="12 24 48 96"
  [aliases]="10 11 12 13 14"
)
order=(excerpts one_line branches machine_chain interpolation interpolation_depth aliases)

if [ $# -eq 0 ]; then
  shapes=("${order[@]}")
else
  shapes=("$1")
  shift
  [ -n "${defaults[${shapes[0]}]+x}" ] || { echo "unknown shape ${shapes[0]}; shapes: ${order[*]}" >&2; exit 1; }
fi

mkdir -p "$work"
for shape in "${shapes[@]}"; do
  if [ $# -gt 0 ]; then sizes=("$@"); else read -r -a sizes <<<"${defaults[$shape]}"; fi
  echo "== $shape"
  printf '%10s %12s %14s %9s %7s %10s %7s' size "input bytes" "report bytes" "cpu s" x "peak MiB" x
  [ "${PROFILE:-0}" = 1 ] && printf ' %15s %7s' instructions x
  echo
  prev_cpu="" prev_rss="" prev_ins=""
  for n in "${sizes[@]}"; do
    dir="$work/$shape-$n"
    rm -rf "$dir"
    python3 "$here/gen_shape.py" "$shape" "$n" "$dir"
    bytes=$(cat "$dir"/*.zem | wc -c)
    status=0
    ( cd "$dir" && timeout "$limit" /usr/bin/time -f '%U %S %M' -o "$dir/time.txt" \
        "$bin" check main.zem 2>"$dir/report.txt" >/dev/null ) || status=$?
    if [ "$status" = 124 ] || [ ! -s "$dir/time.txt" ] || grep -q 'Command terminated' "$dir/time.txt"; then
      printf '%10s %12s %14s %9s\n' "$n" "$bytes" - ">${limit}s"
      prev_cpu="" prev_rss="" prev_ins=""
      continue
    fi
    report=$(wc -c < "$dir/report.txt")
    read -r user sys rss < <(tail -1 "$dir/time.txt")
    cpu=$(python3 -c "print(f'{$user + $sys:.3f}')")
    fx() { [ -n "$1" ] && python3 -c "print(f'x{$2 / max($1, 1e-3):.1f}')" || echo -; }
    printf '%10s %12s %14s %9s %7s %10s %7s' "$n" "$bytes" "$report" "$cpu" "$(fx "$prev_cpu" "$cpu")" \
      "$(python3 -c "print(f'{$rss / 1024:.1f}')")" "$(fx "$prev_rss" "$rss")"
    if [ "${PROFILE:-0}" = 1 ]; then
      ( cd "$dir" && valgrind --tool=callgrind --callgrind-out-file="$dir/callgrind.out" \
          "$bin" check main.zem >/dev/null 2>&1 ) || true
      ins=$(awk '/^summary:/ {print $2}' "$dir/callgrind.out")
      printf ' %15s %7s' "$ins" "$(fx "$prev_ins" "$ins")"
      prev_ins=$ins
    fi
    echo
    prev_cpu=$cpu prev_rss=$rss
  done
done
