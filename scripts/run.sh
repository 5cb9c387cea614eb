#!/usr/bin/env bash
# make run: starts the desktop program from a build folder with a demo TR-DOS
# disk, written afresh by kelvara-cli each time, both in the virtual drive
# and on the disk map. ARGS="..." replaces the program's arguments.
set -euo pipefail
build=$1
shift
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MSG'
make run: there is no display to open the window on ($DISPLAY is not set).
On a machine without a desktop, give it a virtual one:

    xvfb-run -a make run

(xvfb-run comes with the xvfb package, which `make run` has installed.)
MSG
  exit 1
fi
demo="$build/demo/demo.trd"
mkdir -p "$(dirname "$demo")"
"$build/src/kelvara-cli" demo "$demo"
if [ $# -gt 0 ]; then
  exec "$build/src/kelvara" "$@"
fi
exec "$build/src/kelvara" --virtual-drive "$demo" "$demo"
