#!/usr/bin/env bash
# Takes a screenshot of the settings dialog ("Настройки" -> "Настройки
# программы"), a disk image in the virtual drive, under a virtual display:
# scripts/screenshot-settings.sh BUILD_DIR DISK_IMAGE OUT.png
set -euo pipefail
width=1400 height=760
if [ "${1:-}" != --inside ]; then
  exec xvfb-run -a -s "-screen 0 ${width}x${height}x24" "$0" --inside "$@"
fi
build=$2 image=$3 out=$4
XDG_RUNTIME_DIR=$(mktemp -d)  # a copy of its own, not one already running
export XDG_RUNTIME_DIR
"$build/src/kelvara" --virtual-drive "$image" &
pid=$!
sleep 4
# "Настройки" is the fourth menu of the bar, its one item the first row.
left=$(((width - 1313) / 2)) top=$(((height - 646) / 2))
xdotool mousemove $((left + 195)) $((top + 8)) click 1
sleep 0.7
xdotool mousemove $((left + 230)) $((top + 30)) click 1
sleep 1.5
win=
for w in $(xdotool search --onlyvisible --class kelvara); do
  [ "$(xdotool getwindowname "$w")" = "Настройки" ] && win=$w
done
eval "$(xdotool getwindowgeometry --shell "$win")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
kill "$pid"
rm -rf "$XDG_RUNTIME_DIR"
