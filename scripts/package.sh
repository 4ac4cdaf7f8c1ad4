#!/usr/bin/env bash
# Installs what is missing, builds the Debian package in its own build folder (optimised,
# installed under /usr, with Debian's hardening flags) and prints the path of the .deb.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh >&2
dir=build/package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DKORVALT_BUILD_APP=ON -DKORVALT_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >&2
cmake --build "$dir" -j "$(nproc)" >&2
output=$(cd "$dir" && cpack -G DEB -B "$PWD")
deb=$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' <<<"$output")
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
  echo "$output" >&2
  echo "package.sh: cpack made no package" >&2
  exit 1
fi
echo "$deb"
