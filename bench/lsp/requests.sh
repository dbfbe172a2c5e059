#!/usr/bin/env bash
# Language server request latency: hover, definition, completion and semantic tokens on a generated program,
# references in a generated workspace, against a trivial request and `dravelin check`. See README.md.
#
# Usage: bench/lsp/requests.sh [LINES] [REQUESTS] [FILES]   (defaults: 5000 lines, 200 requests, 50 files)
# Environment:
#   DRAVELIN  binary to time (default: build/h-bench/dravelin, built here when missing)
#   WORK      where the program and the workspace go (default: build/bench-lsp)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
lines="${1:-5000}"
requests="${2:-200}"
files="${3:-50}"
work="${WORK:-$root/build/bench-lsp}"

. "$root/bench/bench_binary.sh"
bench_binary "$root"
[ -d "$root/tests/node_modules/vscode-languageserver-protocol" ] || "$root/scripts/install-deps"

mkdir -p "$work"
program="$work/gen_$lines.zem"
python3 "$root/bench/compile/gen_program.py" --lines "$lines" --out "$program"
workspace="$work/workspace_$files"
rm -rf "$workspace"
python3 "$here/gen_workspace.py" --files "$files" --lines 200 --dir "$workspace"
node "$here/requests.js" "$bin" "$program" "$workspace" "$requests"
