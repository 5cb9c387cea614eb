#!/usr/bin/env bash
# Installs every Debian package that building, testing, running the GUI,
# taking screenshots, benchmarking and fuzzing Kelvara need.
# Idempotent: quiet and quick when everything is present.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ make pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libsimpleini-dev libcli11-dev libpng-dev zlib1g-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  xvfb xauth imagemagick fonts-liberation xdotool
  clang libclang-rt-14-dev clang-format
  help2man man-db desktop-file-utils libxml2-utils dpkg-dev qt6-translations-l10n
  libdsk-utils cpmtools fuse-emulator-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
