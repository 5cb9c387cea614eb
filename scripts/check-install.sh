#!/usr/bin/env bash
# Checks what a user installs, from a built tree:
#   check-install.sh install BUILD   cmake --install into a temporary prefix
#   check-install.sh package BUILD   the .deb made by CPack, unpacked with dpkg -x
# and then that both programs run from there and every file is in place.
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

if [[ $mode == install ]]; then
  cmake --install "$build" --prefix "$tmp/usr" >/dev/null
else
  (cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -B "$tmp/out" >/dev/null)
  deb=$(ls "$tmp"/out/*.deb)
  depends=$(dpkg-deb -f "$deb" Depends)
  [[ $depends == *libqt6widgets6* ]] || { echo "Depends lacks Qt: $depends"; exit 1; }
  dpkg -x "$deb" "$tmp"
fi

root=$tmp/usr
for f in bin/kelvara bin/kelvara-cli share/applications/kelvara.desktop \
  share/mime/packages/kelvara.xml share/icons/hicolor/scalable/apps/kelvara.svg \
  share/icons/hicolor/48x48/apps/kelvara.png share/man/man1/kelvara.1 \
  share/man/man1/kelvara-cli.1; do
  [[ -e $root/$f ]] || { echo "missing: $f"; exit 1; }
done
desktop-file-validate "$root/share/applications/kelvara.desktop"
xmllint --noout "$root/share/mime/packages/kelvara.xml"
"$root/bin/kelvara-cli" --version | grep -q '^kelvara-cli '
"$root/bin/kelvara" --version | grep -q '^kelvara '
echo "$mode: both programs run from $root; desktop entry, MIME types, icons and manual pages in place"
