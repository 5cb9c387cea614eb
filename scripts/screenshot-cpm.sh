#!/usr/bin/env bash
# Takes a screenshot of the CP/M catalog window over the main window, under a
# virtual display, on a small Profi disk written here entry by entry:
# scripts/screenshot-cpm.sh BUILD_DIR OUT.png
set -euo pipefail
. "$(dirname "$0")/screenshot-lib.sh"
under_xvfb "$0" "$@"
build=$2 out=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
image=$work/profi.pro
"$build/src/kelvara-cli" new cpm "$image" >/dev/null

# put OFFSET BYTES...: bytes given as hexadecimal pairs, written in place.
put() {
  local offset=$1
  shift
  printf "$(printf '\\x%s' "$@")" | dd of="$image" bs=1 seek="$offset" conv=notrunc status=none
}
# entry SLOT USER "NAME    EXT" EXTENT RECORDS BLOCK...: one directory entry.
entry() {
  local slot=$1 user=$2 key=$3 extent=$4 records=$5
  shift 5
  local bytes=("$user") i
  for ((i = 0; i < 11; i++)); do bytes+=("$(printf '%02x' "'${key:i:1}")"); done
  bytes+=("$(printf '%02x' "$extent")" 00 00 "$(printf '%02x' "$records")")
  for ((i = 0; i < 8; i++)); do
    local b=${1:-0}
    [ $# -gt 0 ] && shift
    bytes+=("$(printf '%02x' $((b & 255)))" "$(printf '%02x' $((b >> 8)))")
  done
  put $((slot * 32)) "${bytes[@]}"
}
entry 0 00 "README  TXT" 0 3 2
entry 1 00 "GAME    COM" 0 128 3 4 5 6 7 8 9 10
entry 2 e5 "OLDNOTE TXT" 0 16 11
entry 3 00 "GAME    COM" 1 40 12 13 14
entry 4 03 "PROFI   SYS" 0 23 15 16
entry 5 00 "BASIC   COM" 0 97 17 18 19 20 21 22 23
entry 6 00 "SCREEN  SCR" 0 54 24 25 26 27
printf 'Profi CP/M sample disk\r\nREADME.TXT\r\n' |
  dd of="$image" bs=1 seek=$((2 * 2048)) conv=notrunc status=none

start_kelvara "$build" --virtual-drive "$image" "$image"
# "Образ" -> "Просмотреть CP/M каталог".
click_at 20 10 1 1
click_at 120 118 1 1.5
cat=$(xdotool search --name "Каталог диска CP/M" | head -1)
eval "$(xdotool getwindowgeometry --shell "$cat")"
# Both switches on through the list's menu (it opens at the pointer), then
# the menu open on the last file.
for item in 76 98; do
  xdotool mousemove $((X + 60)) $((Y + 48)) click 3
  sleep 0.8
  xdotool mousemove $((X + 140)) $((Y + 48 + item)) click 1
  sleep 0.8
done
xdotool mousemove $((X + 50)) $((Y + 106)) click 1
sleep 0.3
xdotool click 3
sleep 1
shoot_main "$out"
