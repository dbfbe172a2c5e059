#!/bin/sh
# A tool adapter standing in for a release pipeline: one JSON request per line on stdin, one JSON reply per line
# on stdout. Nothing is built or shipped; each verb says what it would do on stderr.
#   build(version) -> a record of the version and its artifact
#   test(version)  -> true
#   ship(version)  -> none
# Bound with: dravelin run examples/deploy.zem --bind shell="sh examples/adapters/shell.sh"
while IFS= read -r request; do
  verb=$(printf '%s\n' "$request" | jq -r '.verb // ""')
  version=$(printf '%s\n' "$request" | jq -r '.args.positional[0] // ""')
  case "$verb" in
    build)
      echo "shell: building $version" >&2
      jq -cn --arg v "$version" '{result: {version: $v, artifact: ("release-" + $v + ".tar.gz")}}' ;;
    test)
      echo "shell: testing $version" >&2
      echo '{"result":true}' ;;
    ship)
      echo "shell: shipping $version" >&2
      echo '{"result":null}' ;;
    *)
      jq -cn --arg v "$verb" '{error: {message: ("`shell` has no verb " + $v), retryable: false}}' ;;
  esac
done
