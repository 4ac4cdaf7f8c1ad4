#!/usr/bin/env bash
# The desktop entry and the software centre's metadata pass their validators without an error
# or a warning, and the metadata's newest release is the version the programs print.
# Usage: data_files.sh DESKTOP_FILE METAINFO_FILE VERSION
set -uo pipefail
desktop=$1
metainfo=$2
version=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

out=$(desktop-file-validate "$desktop" 2>&1)
rc=$?
[ "$rc" -eq 0 ] && [ -z "$out" ] || fail "desktop-file-validate exited $rc: $out"

# Pedantic notes are advice of taste; errors and warnings are not.
out=$(appstreamcli validate --no-net --pedantic --explain "$metainfo" 2>&1)
rc=$?
echo "$out"
[ "$rc" -eq 0 ] || fail "appstreamcli validate exited $rc"
grep -qE '^[EW]: ' <<<"$out" && fail "appstreamcli reports errors or warnings"

newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
[ "$newest" = "$version" ] || fail "the metadata's newest release is '$newest', the programs say $version"

id=$(basename "$metainfo" .metainfo.xml)
[ "$(basename "$desktop")" = "$id.desktop" ] || fail "desktop file $(basename "$desktop") for id $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "the metadata does not launch $id.desktop"

[ "$failures" -eq 0 ] || exit 1
echo "desktop entry and metadata valid, release $version"
