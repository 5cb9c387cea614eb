#!/usr/bin/env bash
# Runs every libFuzzer target in a folder for a number of seconds each,
# keeping each target's corpus in fuzz/corpus/<target>/ (seeded from fuzz/seeds/<target>/).
set -euo pipefail
dir=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for f in "$dir"/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="$root/fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$root/fuzz/seeds/$name" ] && seeds=("$root/fuzz/seeds/$name")
  echo "== $name (${seconds}s)"
  if ! "$f" -artifact_prefix="$dir/" -max_total_time="$seconds" -print_final_stats=0 "$corpus" "${seeds[@]}" \
      >"$dir/$name.log" 2>&1; then
    echo "$name FAILED; see $dir/$name.log"
    tail -n 40 "$dir/$name.log"
    status=1
  fi
done
exit $status
