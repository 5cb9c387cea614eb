#!/usr/bin/env bash
# Runs the libFuzzer targets of a folder, each on its own corpus in
# fuzz/corpus/<target>/ (seeded from fuzz/seeds/<target>/, kept between runs).
#
#   run-fuzzers.sh DIR                 every target for FUZZ_SECONDS (default 60) each
#   FUZZ_RUNS=N run-fuzzers.sh DIR     every target until it has run N inputs in all
#
# With FUZZ_RUNS the campaign is resumable: each finished chunk of at most
# FUZZ_CHUNK inputs (default 10^6) is added to fuzz/corpus/ledger.tsv
# (date, target, inputs, seconds, result), and a target's count is the sum of
# its lines. Interrupt it and run it again: it goes on where it stopped.
# FUZZ_JOBS targets run at once (default 1); FUZZ_TARGETS picks some
# ("fuzz_trd fuzz_scl", run in that order). A crash stops that target, leaves its input in DIR
# and makes the script fail; the other targets go on.
set -uo pipefail
dir=$1
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
runs=${FUZZ_RUNS:-}
chunk=${FUZZ_CHUNK:-1000000}
jobs=${FUZZ_JOBS:-1}
ledger="$root/fuzz/corpus/ledger.tsv"
mkdir -p "$root/fuzz/corpus"

targets=()
if [ -n "${FUZZ_TARGETS:-}" ]; then
  read -r -a targets <<<"$FUZZ_TARGETS"  # in the order given
else
  for f in "$dir"/fuzz_*; do
    [ -x "$f" ] && [ -f "$f" ] && targets+=("$(basename "$f")")
  done
fi

done_runs() {  # inputs a target has run so far, by the ledger
  [ -f "$ledger" ] || { echo 0; return; }
  awk -F'\t' -v t="$1" '$2 == t && $5 == "ok" { s += $3 } END { print s + 0 }' "$ledger"
}

# One libFuzzer process; its log goes to DIR/<target>.log. A target's own
# libFuzzer options, if any, are in fuzz/<target>.options (# starts a comment).
fuzz_once() {  # name, extra options...
  local name=$1
  shift
  local corpus="$root/fuzz/corpus/$name" seeds=() own=()
  mkdir -p "$corpus"
  [ -d "$root/fuzz/seeds/$name" ] && seeds=("$root/fuzz/seeds/$name")
  [ -f "$root/fuzz/$name.options" ] &&
    read -r -a own <<<"$(sed 's/#.*//' "$root/fuzz/$name.options" | tr '\n' ' ')"
  "$dir/$name" -artifact_prefix="$dir/$name-" -print_final_stats=0 "${own[@]}" "$@" "$corpus" \
    "${seeds[@]}" >"$dir/$name.log" 2>&1
}

run_target() {
  local name=$1
  if [ -z "$runs" ]; then
    echo "== $name (${seconds}s)"
    fuzz_once "$name" -max_total_time="$seconds" || { report_failure "$name"; return 1; }
    return 0
  fi
  local have left n start took
  while :; do
    have=$(done_runs "$name")
    left=$((runs - have))
    [ "$left" -gt 0 ] || break
    n=$((left < chunk ? left : chunk))
    echo "== $name: $have of $runs inputs run; $n more"
    start=$(date +%s)
    if fuzz_once "$name" -runs="$n"; then
      took=$(($(date +%s) - start))
      printf '%s\t%s\t%s\t%s\tok\n' "$(date -u +%FT%TZ)" "$name" "$n" "$took" >>"$ledger"
    else
      took=$(($(date +%s) - start))
      printf '%s\t%s\t%s\t%s\tfailed\n' "$(date -u +%FT%TZ)" "$name" 0 "$took" >>"$ledger"
      report_failure "$name"
      return 1
    fi
  done
  echo "== $name: $(done_runs "$name") inputs run"
}

report_failure() {
  echo "$1 FAILED; see $dir/$1.log"
  tail -n 40 "$dir/$1.log"
}

status=0
running=0
for name in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
  run_target "$name" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
