#!/usr/bin/env bash
# Takes a screenshot of the viewer showing the screen file of a TR-DOS image
# (the second file of the demo disk), opened from the TR-DOS catalog window,
# under a virtual display: scripts/screenshot-viewer.sh BUILD_DIR IMAGE OUT.png
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
# "Образ" -> "Просмотреть ZX каталог", as in catalog-screenshot.sh.
left=$(((width - 1313) / 2)) top=$(((height - 646) / 2))
xdotool mousemove $((left + 25)) $((top + 8)) click 1
sleep 0.7
xdotool mousemove $((left + 112)) $((top + 96)) click 1
sleep 1.5
win=
for w in $(xdotool search --onlyvisible --class kelvara); do
  [ "$(xdotool getwindowname "$w")" = "Каталог диска TR-DOS" ] && win=$w
done
eval "$(xdotool getwindowgeometry --shell "$win")"
# The second row, then Enter: a 6912-byte file shows as a ZX screen.
xdotool mousemove $((X + 60)) $((Y + 50)) click 1
sleep 0.3
xdotool key Return
sleep 1.5
view=
for w in $(xdotool search --onlyvisible --class kelvara); do
  [ "$(xdotool getwindowname "$w")" = "ZX Screen" ] && view=$w
done
eval "$(xdotool getwindowgeometry --shell "$view")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
kill "$pid"
rm -rf "$XDG_RUNTIME_DIR"
