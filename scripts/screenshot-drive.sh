#!/usr/bin/env bash
# Takes a screenshot of a drive run in progress: the main window with an empty
# image and a disk in the virtual drive turning at a real drive's speed,
# "Сканирование и чтение диска" chosen from the "Диск" menu, caught a few
# seconds into the run with the progress window over the filling map:
# scripts/screenshot-drive.sh BUILD_DIR DISK_IMAGE OUT.png
set -euo pipefail
width=1400 height=760
if [ "${1:-}" != --inside ]; then
  exec xvfb-run -a -s "-screen 0 ${width}x${height}x24" "$0" --inside "$@"
fi
build=$2 image=$3 out=$4
XDG_RUNTIME_DIR=$(mktemp -d)  # a copy of its own, not one already running
export XDG_RUNTIME_DIR
KELVARA_VIRTUAL_DRIVE_PACE=1 "$build/src/kelvara" --virtual-drive "$image" &
pid=$!
sleep 4
# The window opens centred at 1313 x 646; the "Диск" menu is the second of
# the bar, the command its third line.
left=$(((width - 1313) / 2)) top=$(((height - 646) / 2))
xdotool mousemove $((left + 67)) $((top + 8)) click 1
sleep 0.5
xdotool mousemove $((left + 175)) $((top + 72)) click 1
sleep 9
import -window root -crop "1313x646+$left+$top" +repage "$out"
kill "$pid"
rm -rf "$XDG_RUNTIME_DIR"
