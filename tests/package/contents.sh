#!/usr/bin/env bash
# The package holds every installed file in its place with Debian's owners and modes, and
# nothing else; its control data names the section, maintainer, home page and the libraries
# dpkg-shlibdeps found; it has no maintainer scripts, so dpkg alone tracks what it installs.
# Usage: contents.sh DEB VERSION MAN_DIR PROGRAM...
set -uo pipefail
deb=$1
version=$2
mandir=$3
shift 3
root="$(dirname "$deb")/root"
id=org.example.korvalt
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

expected=()
for program in "$@"; do expected+=("-rwxr-xr-x usr/games/$program"); done
for page in "$mandir"/*.6; do expected+=("-rw-r--r-- usr/share/man/man6/$(basename "$page").gz"); done
for size in 48 64 128 256; do
  expected+=("-rw-r--r-- usr/share/icons/hicolor/${size}x$size/apps/$id.png")
done
for file in usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/$id.svg usr/share/doc/korvalt/copyright \
  usr/share/doc/korvalt/changelog.gz usr/share/korvalt/x.wav usr/share/korvalt/o.wav \
  usr/share/korvalt/gameover.wav usr/share/korvalt/screenshot.png; do
  expected+=("-rw-r--r-- $file")
done

listing=$(dpkg-deb --contents "$deb")
echo "$listing"
# Every entry belongs to root, and every folder is drwxr-xr-x.
grep -v '^[^ ]* root/root ' <<<"$listing" && fail "entries not owned by root/root"
grep '^d' <<<"$listing" | grep -v '^drwxr-xr-x ' && fail "folders with other modes"
actual=$(grep -v '^d' <<<"$listing" | awk '{ sub("^\\./", "", $6); print $1, $6 }' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$actual" != "$wanted" ]; then
  fail "the files differ from the expected ones (< in the package, > expected):"
  diff <(echo "$actual") <(echo "$wanted")
fi

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = korvalt ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = games ] || fail "Section: $(field Section)"
[ "$(field Maintainer)" = "Korvalt team <team@example.org>" ] || fail "Maintainer: $(field Maintainer)"
[ "$(field Homepage)" = "https://korvalt.example.org/" ] || fail "Homepage: $(field Homepage)"
depends=", $(field Depends),"
for dependency in libc6 libstdc++6 libqt6widgets6 libqt6multimedia6 qt6-qpa-plugins; do
  case "$depends" in *", $dependency "* | *", $dependency,"*) ;;
  *) fail "Depends lacks $dependency: $depends" ;; esac
done
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sort | tr '\n' ' ')
[ "$control" = "./control ./md5sums " ] || fail "control archive holds: $control"

# What the desktop and the documentation point at is there, at this version.
desktop="$root/usr/share/applications/$id.desktop"
icon=$(sed -n 's/^Icon=//p' "$desktop")
exec=$(sed -n 's/^Exec=//p' "$desktop")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon named $icon"
[ -x "$root/usr/games/$exec" ] || fail "the menu entry runs $exec, which is not in usr/games"
for size in 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x$size/apps/$icon.png"
  [ "$(identify -format '%wx%h' "$png" 2>&1)" = "${size}x$size" ] || fail "$png is not ${size}x$size"
done
metainfo="$root/usr/share/metainfo/$id.metainfo.xml"
for program in "$@"; do
  grep -q "<binary>$program</binary>" "$metainfo" || fail "the metadata does not provide $program"
done
provided=$(grep -c "<binary>" "$metainfo")
[ "$provided" -eq $# ] || fail "the metadata provides $provided programs, not $#"
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree on the installed tree"
zcat "$root/usr/share/doc/korvalt/changelog.gz" | head -1 | grep -q "^korvalt ($version) " ||
  fail "the changelog's newest entry is not $version"

[ "$failures" -eq 0 ] || exit 1
echo "package contents, control data and metadata as expected"
