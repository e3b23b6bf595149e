#!/usr/bin/env bash
# Installs a build into a fresh prefix and checks what a Linux desktop reads
# there: the .desktop file, the metainfo, the icon and the MIME type.
# Usage: tools/check_install.sh BUILD_DIR
set -euo pipefail
build=${1:?build directory}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
share=$prefix/share
for f in bin/zovevod share/applications/zovevod.desktop share/mime/packages/zovevod-mime.xml \
         share/icons/hicolor/scalable/apps/zovevod.svg share/metainfo/org.zovevod.Zovevod.metainfo.xml; do
  [ -f "$prefix/$f" ] || { echo "missing: $f"; exit 1; }
done
grep -qx 'Icon=zovevod' "$share/applications/zovevod.desktop" || { echo "no Icon= line"; exit 1; }
desktop-file-validate "$share/applications/zovevod.desktop"
appstreamcli validate --no-net "$share/metainfo/org.zovevod.Zovevod.metainfo.xml"
# The MIME database built from the package: a .map file is told by its first
# line as well as by its name.
if command -v update-mime-database >/dev/null; then
  update-mime-database "$share/mime" >/dev/null 2>&1
  grep -q 'OziExplorer Map Data File' "$share/mime/magic" || { echo "no magic for .map"; exit 1; }
fi
echo "install checks passed"
