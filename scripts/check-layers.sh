#!/usr/bin/env bash
# The core's floors: check-layers.sh SRC FOLDER... names the core folders from
# the lowest floor up. A core source may include its own floor and the floors
# below it, never one above, and never a Qt header or the program folders
# (app/, widgets/, cli/). Fails listing every offending line.
set -euo pipefail
src="$1"
shift
floors=("$@")
bad=""
for ((i = 0; i < ${#floors[@]}; i++)); do
  dir="$src/${floors[i]}"
  [[ -d "$dir" ]] || continue
  above=("${floors[@]:i+1}")
  pattern='Q[A-Za-z]+|qt[A-Za-z]*/|app/|widgets/|cli/'
  for f in "${above[@]}"; do pattern+="|$f/"; done
  hits=$(grep -rnE "#include *[<\"]($pattern)" "$dir" || true)
  [[ -n "$hits" ]] && bad+="$hits"$'\n'
done
if [[ -n "$bad" ]]; then
  echo "core includes that climb a floor or leave the core:"
  printf '%s' "$bad"
  exit 1
fi
echo "core floors (${floors[*]}): every include stays on its floor or below"
