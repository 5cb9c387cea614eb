#!/usr/bin/env bash
# Takes the README's screenshots, one per window, on the demo disk written to
# a temporary folder, so that no path of the machine they were taken on shows:
# scripts/screenshots.sh BUILD_DIR [OUT_DIR (default docs)]
set -euo pipefail
build=$(realpath "$1")
out=$(realpath "${2:-docs}")
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d /tmp/zx.XXXXXX)
trap 'rm -rf "$work"' EXIT
disk=$work/demo.trd
"$build/src/kelvara-cli" demo "$disk" >/dev/null
"$here/screenshot.sh" "$build" "$disk" "$out/screenshot.png"
"$here/screenshot-drive.sh" "$build" "$disk" "$out/drive-read.png"
"$here/catalog-screenshot.sh" "$build" "$disk" "$out/catalog.png"
"$here/screenshot-viewer.sh" "$build" "$disk" "$out/viewer.png"
"$here/screenshot-settings.sh" "$build" "$disk" "$out/settings.png"
"$here/screenshot-cpm.sh" "$build" "$out/cpm-catalog.png"
