#!/usr/bin/env bash
# Takes a screenshot of the main window with an image loaded and a sector
# clicked, under a virtual display, the image also in the virtual drive:
# scripts/screenshot.sh BUILD_DIR IMAGE OUT.png
set -euo pipefail
. "$(dirname "$0")/screenshot-lib.sh"
under_xvfb "$0" "$@"
build=$2 image=$3 out=$4
start_kelvara "$build" --virtual-drive "$image" "$image"
# Track 1, sector 4 (on the demo disk a sector of its screen file) fills the
# information, owner and hex panels.
click_at 157 73 1 1
shoot_main "$out"
