#!/usr/bin/env bash
# Takes a screenshot of the main window with an image loaded and a sector
# clicked, under a virtual display, the image also in the virtual drive:
# scripts/screenshot.sh BUILD_DIR IMAGE OUT.png
set -euo pipefail
width=1400 height=760
if [ "${1:-}" != --inside ]; then
  exec xvfb-run -a -s "-screen 0 ${width}x${height}x24" "$0" --inside "$@"
fi
build=$2 image=$3 out=$4
XDG_RUNTIME_DIR=$(mktemp -d)  # a copy of its own, not one already running
export XDG_RUNTIME_DIR
"$build/src/kelvara" --virtual-drive "$image" "$image" &
pid=$!
sleep 4
# The window opens centred at 1313 x 646. A click on track 1, sector 4 (on the
# demo disk a sector of its screen file) fills the information, owner and hex
# panels.
left=$(((width - 1313) / 2)) top=$(((height - 646) / 2))
xdotool mousemove $((left + 157)) $((top + 73))
sleep 0.3
xdotool click 1
sleep 1
import -window root -crop "1313x646+$left+$top" +repage "$out"
kill "$pid"
rm -rf "$XDG_RUNTIME_DIR"
