#!/usr/bin/env bash
# Whole-process costs of kelvara-cli, side by side with dsktrans (libdsk-utils)
# where it does the same job: start-up, info of a full TRD, TRD -> TD0 (plain)
# and TD0 -> TRD. Times from hyperfine (mean of many runs), peak memory from
# GNU time. The files are made here, in a RAM folder when there is one, so
# that the disk's write-back does not enter the figures.
#
#   scripts/bench-cli.sh [path/to/kelvara-cli]    (default build/src/kelvara-cli)
#
# Needs: hyperfine, time (GNU), libdsk-utils (dsktrans), python3.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=$(realpath "${1:-$root/build/src/kelvara-cli}")
for tool in hyperfine /usr/bin/time dsktrans python3; do
  command -v "$tool" >/dev/null || { echo "bench-cli: $tool is missing (apt-get install hyperfine time libdsk-utils python3)" >&2; exit 2; }
done
[ -x "$cli" ] || { echo "bench-cli: no $cli; build first" >&2; exit 2; }

base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/kelvara-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# A full 80-track two-sided TR-DOS disk: an empty catalog, then 159 tracks
# of text-like bytes from a fixed generator.
"$cli" new trdos empty.trd >/dev/null
python3 - <<'EOF'
d = bytearray(open("empty.trd", "rb").read())
x = 7
for i in range(4096, len(d)):
    x = (x * 1103515245 + 12345) & 0xFFFFFFFF
    d[i] = (x >> 16) % 64 + 32
open("full.trd", "wb").write(d)
EOF
# The TD0 both programs read: the one dsktrans writes (plain records).
dsktrans -itype raw -format trdos640 full.trd -otype tele ref.td0 >/dev/null 2>&1

runs=(-N -w 10 -m 100)
declare -A mean
measure() {  # name command...
  local name=$1
  shift
  hyperfine "${runs[@]}" -i --export-json "$name.json" "$*" >/dev/null 2>&1
  mean[$name]=$(python3 -c "import json,sys; print('%.2f' % (json.load(open('$name.json'))['results'][0]['mean']*1000))")
}
peak() {  # command... -> MB (the command must succeed)
  local out
  out=$(/usr/bin/time -f %M "$@" 2>&1 >/dev/null) || { echo "bench-cli: $* failed: $out" >&2; exit 1; }
  echo "$out" | tail -1 | awk '{printf "%.1f", $1 / 1024}'
}

measure version "$cli" --version
measure info "$cli" info full.trd
measure k_td0 "$cli" convert --no-td0-compress full.trd k.td0
measure d_td0 dsktrans -itype raw -format trdos640 full.trd -otype tele d.td0
measure k_trd "$cli" convert ref.td0 k.trd
measure d_trd dsktrans -itype tele ref.td0 -otype raw d.trd
measure d_start dsktrans -types

cmp -s k.trd full.trd || echo "bench-cli: warning: TD0 -> TRD did not give the disk back" >&2

printf '| measure | kelvara-cli | dsktrans | target |\n|---|---|---|---|\n'
printf '| start (`--version`; dsktrans `-types`) | %s ms | %s ms | at most 1 ms |\n' "${mean[version]}" "${mean[d_start]}"
printf '| `info` of a full TRD | %s ms | | at most 2 ms |\n' "${mean[info]}"
printf '| TRD -> TD0 (plain) | %s ms | %s ms | at most half of dsktrans |\n' "${mean[k_td0]}" "${mean[d_td0]}"
printf '| TD0 -> TRD | %s ms | %s ms | at most half of dsktrans |\n' "${mean[k_trd]}" "${mean[d_trd]}"
printf '| peak memory, `info` of a TRD | %s MB | | under 4 MB |\n' "$(peak "$cli" info full.trd)"
worst=0
for target in k.td0 k.udi k.fdi k.hfe k.udf k.trd; do
  m=$(peak "$cli" convert full.trd "$target")
  worst=$(python3 -c "print(max($worst, $m))")
done
worst=$(python3 -c "print(max($worst, $(peak "$cli" convert --td0-compress full.trd p.td0)))")
printf '| peak memory, any conversion of a TRD (TD0 plain and packed, UDI, FDI, HFE, UDF, TRD) | %s MB | | under 16 MB |\n' "$worst"
