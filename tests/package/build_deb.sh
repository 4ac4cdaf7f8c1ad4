#!/usr/bin/env bash
# Makes the .deb from this build tree into OUT_DIR, as cpack -G DEB does for a player, and
# unpacks it into OUT_DIR/root for the tests that look inside.
# Usage: build_deb.sh BUILD_DIR OUT_DIR VERSION
set -euo pipefail
build=$1
out=$2
version=$3
rm -rf "$out"
mkdir -p "$out"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; exit 1; }
deb="$out/korvalt_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "no $deb:"; ls "$out"; cat "$out/cpack.log"; exit 1; }
dpkg-deb -x "$deb" "$out/root"
echo "$deb"
