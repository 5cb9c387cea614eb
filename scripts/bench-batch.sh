#!/usr/bin/env bash
# Batch work at archive scale: a collection of varied generated disks in a
# RAM folder, then
#   - kelvara-cli convert --to udi over N_CONVERT TRD images (one process,
#     --jobs = cores) beside an `xargs -P cores` loop of single-file runs,
#   - kelvara-cli verify over N_VERIFY mixed images (TRD, UDI, FDI, TD0, SCL,
#     Hobeta; some damaged),
#   - peak memory of a batch at two sizes (it must not grow with the count).
# Conversions a second per core = conversions / CPU seconds (user + system):
# on a machine shared with other work, wall time measures the other work too.
# Each batch run is made REPEAT times (default 3) and the best wall time and
# the best CPU time are shown: other work only ever adds to either.
# The collection's files are hard links to a few dozen generated disks: in a
# RAM folder reading a link costs what reading a copy does, and 10,000 copies
# would take gigabytes.
#
#   scripts/bench-batch.sh [path/to/kelvara-cli]    (default build/src/kelvara-cli)
#   N_CONVERT=2000 N_VERIFY=10000 N_XARGS=500 scripts/bench-batch.sh
#
# Needs: time (GNU), python3.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=$(realpath "${1:-$root/build/src/kelvara-cli}")
n_convert=${N_CONVERT:-2000}
n_verify=${N_VERIFY:-10000}
n_xargs=${N_XARGS:-500}
repeat=${REPEAT:-3}
cores=$(nproc)
for tool in /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "bench-batch: $tool is missing" >&2; exit 2; }
done
[ -x "$cli" ] || { echo "bench-batch: no $cli; build first" >&2; exit 2; }

base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/kelvara-batch.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir gen

# Varied 640 KB TR-DOS disks: an empty catalog, the demo disk, and disks
# filled to different depths with text-like or random bytes.
"$cli" new trdos gen/empty.trd >/dev/null
"$cli" demo gen/demo.trd >/dev/null
python3 - <<'PY'
import random
empty = open("gen/empty.trd", "rb").read()
for n in range(24):
    rnd = random.Random(n)
    d = bytearray(empty)
    end = 4096 + rnd.randrange(len(d) - 4096)
    for i in range(4096, end):
        d[i] = rnd.randrange(32, 96) if n % 2 else rnd.randrange(256)
    open(f"gen/fill{n:02}.trd", "wb").write(bytes(d))
PY
# Other formats of some of them, for verify; and damage: a cut file, a
# broken catalog count, a file that is no image.
for f in gen/fill0[0-4].trd; do "$cli" convert "$f" "${f%.trd}.udi" >/dev/null; done
for f in gen/fill0[5-7].trd; do "$cli" convert "$f" "${f%.trd}.fdi" >/dev/null; done
for f in gen/fill0[8-9].trd; do "$cli" convert --td0-compress "$f" "${f%.trd}.td0" >/dev/null; done
"$cli" convert gen/demo.trd gen/demo.scl >/dev/null
"$cli" extract gen/demo.trd -o gen >/dev/null   # Hobeta files boot.$B, screen.$C, code.$C
head -c 600000 gen/fill10.trd >gen/cut.trd
python3 -c "
d = bytearray(open('gen/demo.trd', 'rb').read()); d[8 * 256 + 0xE4] = 9
open('gen/badcount.trd', 'wb').write(bytes(d))"
printf 'not an image' >gen/junk.udi

# The collections: hard links in folders of 500.
link() {  # dir count pattern...
  local dir=$1 count=$2
  shift 2
  local files=($@) i
  for ((i = 0; i < count; i++)); do
    [ $((i % 500)) -eq 0 ] && mkdir -p "$dir/$((i / 500))"
    ln "${files[i % ${#files[@]}]}" "$dir/$((i / 500))/$i.${files[i % ${#files[@]}]##*.}"
  done
}
link convert "$n_convert" gen/*.trd
link verify "$n_verify" gen/*.trd gen/*.udi gen/*.fdi gen/*.td0 gen/*.scl gen/*.\$?
link small "$((n_convert / 4))" gen/*.trd

# Runs a command under GNU time: sets wall, cpu (user + system) and peak (MB).
timed() {
  local out
  out=$(/usr/bin/time -f '%e %U %S %M' "$@" 2>&1 >/dev/null | tail -1)
  read -r wall user sys kb <<<"$out"
  cpu=$(python3 -c "print(round($user + $sys, 2))")
  peak=$(python3 -c "print(round($kb / 1024, 1))")
}
rate() { python3 -c "print(round($1 / $2))"; }
# The same, best of `repeat` runs; `clean` (a command) runs before each.
best() {  # clean command...
  local clean=$1 bw=999999 bc=999999 bp=0 i
  shift
  for ((i = 0; i < repeat; i++)); do
    eval "$clean"
    timed "$@" || true
    bw=$(python3 -c "print(min($bw, $wall))")
    bc=$(python3 -c "print(min($bc, $cpu))")
    bp=$(python3 -c "print(max($bp, $peak))")
  done
  wall=$bw cpu=$bc peak=$bp
}

best "rm -rf out" "$cli" convert --to udi -o out -r convert
conv_wall=$wall conv_cpu=$cpu conv_peak=$peak
converted=$(find out -name '*.udi' | wc -l)
[ "$converted" -eq "$n_convert" ] || echo "bench-batch: warning: $converted of $n_convert converted" >&2
rm -rf out

mkdir xout
find convert -name '*.trd' >all
head -n "$n_xargs" all >list
timed sh -c "xargs -P $cores -I{} sh -c '\"$cli\" convert \"\$1\" xout/\$(basename \"\$1\" .trd).udi' _ {} <list"
x_wall=$wall x_cpu=$cpu
rm -rf xout

timed "$cli" convert --to udi -o out -r small
small_peak=$peak
rm -rf out

best : "$cli" verify -r verify
ver_wall=$wall ver_cpu=$cpu ver_peak=$peak
"$cli" verify -r verify --json >verify.json || true
summary=$(python3 -c "
import json; r = json.load(open('verify.json'))
print('%d images: %d clean, %d damaged, %d unreadable' % (len(r['images']), r['clean'], r['damaged'], r['unreadable']))")

echo "kelvara-cli batch work, $cores cores, files in $base"
echo
printf '| measure | figure | target |\n|---|---|---|\n'
printf '| `convert --to udi`, %s TRD images, one process, --jobs %s | %s s wall, %s CPU s: **%s conversions a second per core** (%s a second wall) | at least 500 a second per core |\n' \
  "$n_convert" "$cores" "$conv_wall" "$conv_cpu" "$(rate "$n_convert" "$conv_cpu")" "$(rate "$n_convert" "$conv_wall")"
printf '| the same by `xargs -P %s` of single-file runs, %s images | %s s wall, %s CPU s: %s conversions a second per core (%s a second wall) | |\n' \
  "$cores" "$n_xargs" "$x_wall" "$x_cpu" "$(rate "$n_xargs" "$x_cpu")" "$(rate "$n_xargs" "$x_wall")"
printf '| `verify -r`, %s mixed images (%s) | **%s s wall**, %s CPU s | under 20 s |\n' \
  "$n_verify" "$summary" "$ver_wall" "$ver_cpu"
printf '| peak memory, convert of %s / %s images | %s MB / %s MB | flat |\n' \
  "$((n_convert / 4))" "$n_convert" "$small_peak" "$conv_peak"
printf '| peak memory, verify of %s images | %s MB | |\n' "$n_verify" "$ver_peak"
