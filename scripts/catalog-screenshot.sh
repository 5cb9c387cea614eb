#!/usr/bin/env bash
# Takes a screenshot of the TR-DOS catalog window over an image, with the
# second file selected and its context menu open, under a virtual display,
# the image also in the virtual drive:
# scripts/catalog-screenshot.sh BUILD_DIR IMAGE OUT.png
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
# The main window opens centred at 1313 x 646: "Образ" is the first menu of
# its bar, "Просмотреть ZX каталог" the fourth row of that menu.
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
# The second row of the list, then its context menu.
xdotool mousemove $((X + 60)) $((Y + 50)) click 1
sleep 0.3
xdotool click 3
sleep 0.7
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
kill "$pid"
rm -rf "$XDG_RUNTIME_DIR"
