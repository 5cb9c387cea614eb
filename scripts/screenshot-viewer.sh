#!/usr/bin/env bash
# Takes a screenshot of the viewer showing the screen file of a TR-DOS image
# (the second file of the demo disk), opened from the TR-DOS catalog window,
# under a virtual display: scripts/screenshot-viewer.sh BUILD_DIR IMAGE OUT.png
set -euo pipefail
. "$(dirname "$0")/screenshot-lib.sh"
under_xvfb "$0" "$@"
build=$2 image=$3 out=$4
start_kelvara "$build" --virtual-drive "$image" "$image"
# "Образ" -> "Просмотреть ZX каталог", as in catalog-screenshot.sh.
click_at 25 8
click_at 112 96 1 1.5
find_window "Каталог диска TR-DOS"
# The second row, then Enter: a 6912-byte file shows as a ZX screen.
xdotool mousemove $((X + 60)) $((Y + 50)) click 1
sleep 0.3
xdotool key Return
sleep 1.5
find_window "ZX Screen"
shoot_window "$out"
