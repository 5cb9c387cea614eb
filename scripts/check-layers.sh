#!/usr/bin/env bash
# The core folders stay Qt-free and never reach into the program folders:
# fails, listing the offending lines, when a core source includes a Qt header
# or anything from app/, widgets/ or cli/.
set -euo pipefail
src="$1"
shift
bad=$(grep -rnE '#include *[<"](Q[A-Za-z]+|qt[A-Za-z]*/|app/|widgets/|cli/)' \
  $(printf "$src/%s " "$@") || true)
if [[ -n "$bad" ]]; then
  echo "core folders include program code:"
  echo "$bad"
  exit 1
fi
echo "core folders ($*): no include of Qt, app/, widgets/ or cli/"
