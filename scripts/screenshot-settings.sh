#!/usr/bin/env bash
# Takes a screenshot of the settings dialog ("Настройки" -> "Настройки
# программы"), a disk image in the virtual drive, under a virtual display:
# scripts/screenshot-settings.sh BUILD_DIR DISK_IMAGE OUT.png
set -euo pipefail
. "$(dirname "$0")/screenshot-lib.sh"
under_xvfb "$0" "$@"
build=$2 image=$3 out=$4
start_kelvara "$build" --virtual-drive "$image"
# "Настройки" is the fourth menu of the bar, its one item the first row.
click_at 195 8
click_at 230 30 1 1.5
find_window "Настройки"
shoot_window "$out"
