#!/usr/bin/env bash
# Takes a screenshot of the main window with an image loaded, under a
# virtual display, the image also in the virtual drive:
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
# The window opens centred at 1313 x 646.
import -window root -crop "1313x646+$(((width - 1313) / 2))+$(((height - 646) / 2))" +repage "$out"
kill "$pid"
rm -rf "$XDG_RUNTIME_DIR"
