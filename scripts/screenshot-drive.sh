#!/usr/bin/env bash
# Takes a screenshot of a drive run in progress: the main window with an empty
# image and a disk in the virtual drive turning at a real drive's speed,
# "Сканирование и чтение диска" chosen from the "Диск" menu, caught a few
# seconds into the run with the progress window over the filling map:
# scripts/screenshot-drive.sh BUILD_DIR DISK_IMAGE OUT.png
set -euo pipefail
. "$(dirname "$0")/screenshot-lib.sh"
under_xvfb "$0" "$@"
build=$2 image=$3 out=$4
export KELVARA_VIRTUAL_DRIVE_PACE=1
start_kelvara "$build" --virtual-drive "$image"
# "Диск" is the second menu of the bar, the command its third line.
click_at 67 8 1 0.5
click_at 175 72 1 9
shoot_main "$out"
