#!/usr/bin/env bash
# Debian's checks of a package: no error and no warning; the notes are shown for reading.
# Usage: lintian.sh DEB
set -uo pipefail
lintian --info --fail-on error,warning "$1" 2>&1 | grep -v '^running with root privileges'
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || { echo "FAIL: lintian exited $status"; exit 1; }
echo "lintian: no error, no warning"
