#!/usr/bin/env bash
# Compile benchmark: times `dravelin check` and `dravelin compile` on generated programs
# of about 1k, 10k and 100k lines, plus `check` of a tiny file (process start and prelude),
# and beside them, in the same run, `luac5.4 -p` on a generated Lua program of the same size.
#
# Usage: bench/compile/run.sh [SIZE...]        (default sizes: 1000 10000 100000)
# Environment:
#   DRAVELIN  binary to time (default: build/h-bench/dravelin, built here when missing)
#   RUNS      timed runs per case (default 10; hyperfine may do more for fast cases)
#   WORK      where generated programs and results go (default: build/bench-compile)
#   HYPERFINE 0: time with a /usr/bin/time loop even when hyperfine is installed
#   PROFILE   1: also count instructions of `check` under callgrind for every size
#   LUAC      the Lua compiler of the peer rows (default luac5.4, installed with apt-get when missing;
#             LUAC=none leaves the peer out)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(1000 10000 100000)
runs="${RUNS:-10}"
work="${WORK:-$root/build/bench-compile}"

. "$root/bench/bench_binary.sh"
bench_binary "$root"
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install -y time)" >&2; exit 1; }

# The peer: a one-pass compiler that parses and compiles its input without running it. Installed here rather than
# with the project's dependencies, since only this benchmark needs it.
luac="${LUAC:-luac5.4}"
if [ "$luac" != none ] && ! command -v "$luac" >/dev/null; then
  echo "installing lua5.4 for the $luac peer" >&2
  sudo_=""
  [ "$(id -u)" = 0 ] || sudo_="sudo"
  $sudo_ apt-get install -y lua5.4 >/dev/null 2>&1 ||
    { $sudo_ apt-get update >/dev/null 2>&1 && $sudo_ apt-get install -y lua5.4 >/dev/null 2>&1; } ||
    { echo "could not install lua5.4; run with LUAC=none to leave the peer out" >&2; exit 1; }
fi

mkdir -p "$work"
rm -f "$work"/results.tsv

# The tiny program: what every invocation pays before it reads a line of user code.
cat > "$work/tiny.zem" <<'ZEM'
program tiny

task main:
  return 1
ZEM

cases=("tiny.zem:check")
for n in "${sizes[@]}"; do
  python3 "$here/gen_program.py" --lines "$n" --out "$work/gen_$n.zem"
  cases+=("gen_$n.zem:check" "gen_$n.zem:compile")
  if [ "$luac" != none ]; then
    python3 "$here/gen_lua.py" --like "$work/gen_$n.zem" --out "$work/gen_$n.lua"
    "$luac" -p "$work/gen_$n.lua" || { echo "gen_$n.lua does not compile" >&2; exit 1; }
    cases+=("gen_$n.lua:luac")
  fi
done

# Every program must be valid: check exits 0 and prints nothing.
for f in "$work"/tiny.zem "$work"/gen_*.zem; do
  if ! out="$("$bin" check "$f" 2>&1)" || [ -n "$out" ]; then
    echo "$f does not check cleanly:" >&2
    echo "$out" | head -20 >&2
    exit 1
  fi
done

have_hyperfine=0
[ "${HYPERFINE:-1}" = 1 ] && command -v hyperfine >/dev/null && have_hyperfine=1
[ $have_hyperfine = 1 ] || echo "hyperfine not found: timing with a /usr/bin/time loop" >&2

for c in "${cases[@]}"; do
  file="${c%%:*}"; cmd="${c##*:}"
  path="$work/$file"
  lines=$(wc -l < "$path")
  echo "== $cmd $file ($lines lines)" >&2
  if [ "$cmd" = luac ]; then run=("$luac" -p "$path"); else run=("$bin" "$cmd" "$path"); fi

  # Peak RSS: the largest maximum resident set size over a few runs.
  rss=0
  walls=()
  cpus=()
  for _ in $(seq 1 "$([ $have_hyperfine = 1 ] && echo 3 || echo "$runs")"); do
    /usr/bin/time -v -o "$work/time.txt" "${run[@]}" >/dev/null
    r=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    w=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time.txt")
    u=$(awk -F': ' '/User time/ {u=$2} /System time/ {s=$2} END {print u + s}' "$work/time.txt")
    [ "$r" -gt "$rss" ] && rss=$r
    walls+=("$w")
    cpus+=("$u")
  done

  if [ $have_hyperfine = 1 ]; then
    hyperfine -N --warmup 2 --min-runs "$runs" --style none \
      --export-json "$work/hf_${cmd}_${file%.zem}.json" \
      "${run[*]}" >/dev/null
    read -r mean sd min cpu <<<"$(python3 -c '
import json, sys
r = json.load(open(sys.argv[1]))["results"][0]
print(r["mean"], r["stddev"] or 0, r["min"], r["user"] + r["system"])' "$work/hf_${cmd}_${file%.zem}.json")"
  else
    read -r mean sd min cpu <<<"$(python3 -c '
import statistics, sys
def sec(s):
    p = [float(x) for x in s.split(":")]
    return sum(v * 60 ** i for i, v in enumerate(reversed(p)))
n = len(sys.argv[1:]) // 2
w = [sec(s) for s in sys.argv[1:n + 1]]
c = [float(s) for s in sys.argv[n + 1:]]
print(statistics.mean(w), statistics.pstdev(w), min(w), statistics.mean(c))' "${walls[@]}" "${cpus[@]}")"
  fi
  bytes=$(wc -c < "$path")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$file" "$cmd" "$lines" "$mean" "$sd" "$min" "$cpu" "$rss" "$bytes" \
    >> "$work/results.tsv"
done

python3 - "$work/results.tsv" <<'PY'
import sys

def ratio(a, b):
    # A time below the clock's resolution reads as 0 (a fast `luac -p`, a tiny file): no rate can be given.
    return a / b if b > 0 else float("nan")

rows = []
for l in open(sys.argv[1]):
    f, cmd, lines, mean, sd, mn, cpu, rss, size = l.rstrip("\n").split("\t")
    rows.append((f, cmd, int(lines), float(mean), float(sd), float(mn), float(cpu), int(rss), int(size)))
tiny = next((r for r in rows if r[0] == "tiny.zem"), None)
t0 = tiny[3] if tiny else 0.0
c0 = tiny[6] if tiny else 0.0

print()
print(f"{'file':<16}{'command':<9}{'lines':>8}{'wall s':>9}{'± sd':>8}{'min s':>8}{'cpu s':>8}"
      f"{'lines/s':>10}{'lines/s*':>10}{'us/line*':>10}{'peak MiB':>10}")
for f, cmd, lines, mean, sd, mn, cpu, rss, size in rows:
    lps = ratio(lines, mean)
    if f == "tiny.zem" or cmd == "luac":
        net = per = float("nan")
    else:
        net = ratio(lines, mean - t0)
        per = ratio(cpu - c0, lines) * 1e6
    print(f"{f:<16}{cmd:<9}{lines:>8}{mean:>9.4f}{sd:>8.4f}{mn:>8.4f}{cpu:>8.3f}"
          f"{lps:>10,.0f}{net:>10,.0f}{per:>10.2f}{rss / 1024:>10.1f}")
print("wall s: mean wall time of the whole process; cpu s: mean user+system time.")
print("* without start-up: the tiny file's wall (lines/s*) or cpu (us/line*) time subtracted.")
print("A linear pass keeps us/line* flat as the size grows.")

by = {}
for f, cmd, lines, mean, sd, mn, cpu, rss, size in rows:
    if f != "tiny.zem" and cmd != "luac":
        by.setdefault(cmd, []).append((lines, cpu - c0, rss))
print()
for cmd, pts in by.items():
    pts.sort()
    for (l0, a, m0), (l1, b, m1) in zip(pts, pts[1:]):
        print(f"{cmd:<8} {l0:>7} -> {l1:>7} lines (x{ratio(l1, l0):.1f}): cpu x{ratio(b, a):.1f}, "
              f"peak RSS x{ratio(m1, m0):.1f}")

# check against the peer on the same size: whole processes, start-up included on both sides.
peer = {f[:-len(".lua")]: r for r in rows for f in [r[0]] if r[1] == "luac"}
pairs = [(r, peer[r[0][:-len(".zem")]]) for r in rows if r[1] == "check" and r[0][:-len(".zem")] in peer]
if pairs:
    print()
    print(f"{'check vs luac -p':<18}{'bytes':>10}{'lua bytes':>11}{'cpu s':>8}{'luac s':>8}{'cpu x':>7}"
          f"{'MiB':>8}{'luac MiB':>10}{'mem x':>7}")
    for z, l in pairs:
        print(f"{z[0]:<18}{z[8]:>10}{l[8]:>11}{z[6]:>8.3f}{l[6]:>8.3f}{ratio(z[6], l[6]):>7.1f}"
              f"{z[7] / 1024:>8.1f}{l[7] / 1024:>10.1f}{ratio(z[7], l[7]):>7.1f}")
PY

# PROFILE=1: instruction counts under callgrind for `check` of every generated size (slow: ~1 min per 100k
# lines). Exact and immune to machine load, so it shows which functions grow faster than the input.
if [ "${PROFILE:-0}" = 1 ]; then
  command -v valgrind >/dev/null || { echo "PROFILE=1 needs valgrind (apt-get install -y valgrind)" >&2; exit 1; }
  echo
  echo "callgrind, check: inclusive instructions of the heaviest functions"
  for n in "${sizes[@]}"; do
    out="$work/callgrind_check_$n.out"
    valgrind --tool=callgrind --callgrind-out-file="$out" "$bin" check "$work/gen_$n.zem" >/dev/null 2>&1
    echo "-- gen_$n.zem"
    callgrind_annotate --inclusive=yes "$out" 2>/dev/null |
      grep -E 'PROGRAM TOTALS|dravelin::(syntax::parse_program|compiler::(check_program|lower_program|link_program|resolve_callee|\(anonymous namespace\)::last_unit_named)|syntax::ast::Program::operator=)' |
      sed -E 's/\(([^()]|\([^()]*\))*\)( \[.*\])?$//; s/\?\?\?://' | cut -c1-110
  done
fi
