#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing, with any
# further packages named as arguments. Quick when all is there.
set -euo pipefail
packages=(cmake g++ make pkg-config qt6-base-dev qt6-svg-dev libgl-dev libjpeg-dev libpng-dev zlib1g-dev libdeflate-dev
          libgtest-dev libjpeg-turbo-progs libvips-tools python3-png libarchive-tools tar python3 libgdal-dev gdal-bin libsqlite3-dev sqlite3
          desktop-file-utils appstream "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
