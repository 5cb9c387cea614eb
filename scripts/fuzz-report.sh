#!/usr/bin/env bash
# The fuzz campaign so far, from fuzz/corpus/ledger.tsv (see run-fuzzers.sh),
# as a Markdown table: inputs run and run time per target, and chunks that
# ended in a crash (each a finding to mend and keep as a test).
set -euo pipefail
ledger="$(cd "$(dirname "$0")/.." && pwd)/fuzz/corpus/ledger.tsv"
[ -f "$ledger" ] || { echo "fuzz-report: no $ledger yet; run make fuzz FUZZ_RUNS=N" >&2; exit 1; }
echo "| target | inputs run | run time | inputs a second | crashed chunks |"
echo "|---|---|---|---|---|"
awk -F'\t' '
  $5 == "ok" { runs[$2] += $3; secs[$2] += $4 }
  $5 != "ok" { failed[$2]++ }
  { seen[$2] = 1 }
  END {
    for (t in seen)
      printf "| `%s` | %d | %s | %d | %d |\n", t, runs[t],
             secs[t] < 120 ? secs[t] " s" : int(secs[t] / 60 + 0.5) " min",
             secs[t] ? runs[t] / secs[t] : 0, failed[t]
  }' "$ledger" | sort
