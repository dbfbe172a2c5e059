#!/usr/bin/env bash
# Language server benchmark: didChange-to-publishDiagnostics latency on a generated program, against
# `dravelin check` of the same text in the same run. See README.md.
#
# Usage: bench/lsp/run.sh [LINES] [EDITS]      (defaults: 5000 lines, 200 edits)
# Environment:
#   DRAVELIN  binary to time (default: build/h-bench/dravelin, built here when missing)
#   WORK      where the program goes (default: build/bench-lsp)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
lines="${1:-5000}"
edits="${2:-200}"
work="${WORK:-$root/build/bench-lsp}"

. "$root/bench/bench_binary.sh"
bench_binary "$root"
[ -d "$root/tests/node_modules/vscode-languageserver-protocol" ] || "$root/scripts/install-deps"

mkdir -p "$work"
program="$work/gen_$lines.zem"
python3 "$root/bench/compile/gen_program.py" --lines "$lines" --out "$program"
if ! out="$("$bin" check "$program" 2>&1)" || [ -n "$out" ]; then
  echo "$program does not check cleanly:" >&2
  echo "$out" | head -20 >&2
  exit 1
fi
node "$here/latency.js" "$bin" "$program" "$edits"
