#!/usr/bin/env bash
# Brings a fresh Debian 12 machine to a state where Korvalt builds, runs and tests.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config make clang-format git
  libgtest-dev
  qt6-base-dev qt6-multimedia-dev qt6-qpa-plugins
  xvfb xauth xdotool x11-apps imagemagick fonts-liberation
  librsvg2-bin desktop-file-utils appstream groff-base man-db
  dpkg-dev fakeroot file lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
