#!/usr/bin/env bash
# Language server costs that grow with the input: a chain of documents that import each other opened in one
# write, references and semantic tokens on one long line, diagnostics of one line full of findings. See
# README.md.
#
# Usage: bench/lsp/scale.sh [CHAIN] [USES] [ERRORS]   (defaults: 100 documents, 200000 uses, 80000 findings)
# Environment:
#   DRAVELIN  binary to time (default: build/h-bench/dravelin, built here when missing)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"

. "$root/bench/bench_binary.sh"
bench_binary "$root"
[ -d "$root/tests/node_modules/vscode-languageserver-protocol" ] || "$root/scripts/install-deps"

node "$here/scale.js" "$bin" "${1:-100}" "${2:-200000}" "${3:-80000}"
