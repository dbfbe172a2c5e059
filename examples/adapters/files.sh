#!/bin/sh
# A tool adapter: one JSON request per line on stdin, one JSON reply per line on stdout.
#   list(dir)   -> the names of the regular files in the folder
#   lines(path) -> the number of lines of a file
# Bound with: dravelin run PROGRAM --bind files="sh examples/adapters/files.sh"
while IFS= read -r request; do
  verb=$(printf '%s\n' "$request" | jq -r '.verb // ""')
  arg=$(printf '%s\n' "$request" | jq -r '.args.positional[0] // ""')
  case "$verb" in
    list)
      find "$arg" -maxdepth 1 -type f -printf '%f\n' 2>/dev/null | sort | jq -R . | jq -cs '{result: .}' ;;
    lines)
      if [ -f "$arg" ]; then
        echo "{\"result\":$(wc -l < "$arg" | tr -d ' ')}"
      else
        jq -cn --arg p "$arg" '{error: {message: ("no file " + $p), retryable: false}}'
      fi ;;
    *)
      jq -cn --arg v "$verb" '{error: {message: ("`files` has no verb " + $v), retryable: false}}' ;;
  esac
done
