#!/usr/bin/env bash
# Takes a screenshot of the TR-DOS catalog window over an image, with the
# second file selected and its context menu open, under a virtual display,
# the image also in the virtual drive:
# scripts/catalog-screenshot.sh BUILD_DIR IMAGE OUT.png
set -euo pipefail
. "$(dirname "$0")/screenshot-lib.sh"
under_xvfb "$0" "$@"
build=$2 image=$3 out=$4
start_kelvara "$build" --virtual-drive "$image" "$image"
# "Образ" is the first menu of the bar, "Просмотреть ZX каталог" its fourth row.
click_at 25 8
click_at 112 96 1 1.5
find_window "Каталог диска TR-DOS"
# The second row of the list, then its context menu.
xdotool mousemove $((X + 60)) $((Y + 50)) click 1
sleep 0.3
xdotool click 3
sleep 0.7
shoot_window "$out"
