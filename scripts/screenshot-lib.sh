# What the screenshot scripts share; sourced, not run. A script calls
# under_xvfb "$0" "$@" first, then start_kelvara, clicks, then shoot_*.
# The screen is 1400 x 760; the main window opens centred at 1313 x 646, its
# top-left corner at (left, top).
width=1400 height=760
left=$(((width - 1313) / 2)) top=$(((height - 646) / 2))

# Runs the calling script again inside a virtual display, once.
under_xvfb() {
  local script=$1
  shift
  if [ "${1:-}" != --inside ]; then
    exec xvfb-run -a -s "-screen 0 ${width}x${height}x24" "$script" --inside "$@"
  fi
}

# Starts the program (a copy of its own, not one already running) with the
# given arguments and waits for its window; `pid` is its process.
start_kelvara() {
  local build=$1
  shift
  XDG_RUNTIME_DIR=$(mktemp -d)
  export XDG_RUNTIME_DIR
  "$build/src/kelvara" "$@" &
  pid=$!
  sleep 4
}

# Clicks at a point of the main window.
click_at() {
  xdotool mousemove $((left + $1)) $((top + $2)) click "${3:-1}"
  sleep "${4:-0.7}"
}

# Sets X, Y, WIDTH, HEIGHT to the visible window of the program named $1.
find_window() {
  local found=
  for w in $(xdotool search --onlyvisible --class kelvara); do
    [ "$(xdotool getwindowname "$w")" = "$1" ] && found=$w
  done
  eval "$(xdotool getwindowgeometry --shell "$found")"
}

# The window found last, or the main window, into $1; then the program ends.
shoot_window() {
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"
  stop_kelvara
}
shoot_main() {
  import -window root -crop "1313x646+$left+$top" +repage "$1"
  stop_kelvara
}
stop_kelvara() {
  kill "$pid"
  rm -rf "$XDG_RUNTIME_DIR"
}
