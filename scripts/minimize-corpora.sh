#!/usr/bin/env bash
# Cuts each target's working corpus (fuzz/corpus/<target>/, kept between runs
# and not committed) down to the inputs that reach every edge it reaches, and
# stores them as the target's committed corpus in fuzz/seeds/<target>/, next to
# the hand-made seeds: cover-NN.bin, smallest first. At most FUZZ_KEEP files
# (default 40) a target; where more are needed, the largest are left out.
#
#   scripts/minimize-corpora.sh build-fuzz/fuzz [target...]
set -euo pipefail
dir=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
keep=${FUZZ_KEEP:-40}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$dir"/fuzz_*; do [ -x "$f" ] && [ -f "$f" ] && targets+=("$(basename "$f")"); done
fi
for name in "${targets[@]}"; do
  corpus="$root/fuzz/corpus/$name"
  seeds="$root/fuzz/seeds/$name"
  [ -d "$corpus" ] || { echo "$name: no corpus"; continue; }
  mkdir -p "$seeds"
  work=$(mktemp -d)
  # Edges only (no hit counts, no comparison values): the smallest set that
  # still reaches every line the campaign reached.
  "$dir/$name" -set_cover_merge=1 -use_counters=0 -use_value_profile=0 "$work" "$seeds" "$corpus" \
    >"$dir/$name.merge.log" 2>&1
  rm -f "$seeds"/cover-*.bin
  n=0
  while read -r file; do
    n=$((n + 1))
    [ "$n" -le "$keep" ] || break
    # A hand-made seed the set kept is already there under its own name.
    if find "$seeds" -maxdepth 1 -type f -exec cmp -s "$file" {} \; -print -quit | grep -q .; then
      continue
    fi
    cp "$file" "$seeds/$(printf 'cover-%02d.bin' "$n")"
  done < <(find "$work" -type f -printf '%s %p\n' | sort -n | cut -d' ' -f2-)
  echo "$name: $(find "$work" -type f | wc -l) inputs cover its edges; $(ls "$seeds" | wc -l) files in fuzz/seeds/$name"
  rm -rf "$work"
done
