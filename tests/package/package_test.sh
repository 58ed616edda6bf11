#!/usr/bin/env bash
# Builds the Debian package from the build folder, unpacks it into a temporary root and checks
# that what a user installs works: the unpacked tabrun converts the examples to the same bytes
# as the build tree's, the package's files agree with each other (desktop entry, icon,
# metadata, manual pages) and pass their validators, and lintian finds no error.
# Usage: package_test.sh <build folder> <build tree's tabrun> <examples folder> <version> <gui 0|1>
set -euo pipefail
command -v dpkg-deb >/dev/null || { echo "not a Debian system: dpkg-deb is missing"; exit 77; }
build="$1"
tabrun="$2"
examples="$3"
version="$4"
gui="$5"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
deb="$work/pkg/tabulon_${version}_amd64.deb"
[ -f "$deb" ] || fail "cpack did not write $(basename "$deb"): $(ls "$work/pkg")"

for field in Maintainer Section Priority Description; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "the control file has no $field"
done
# The dependencies come from the binaries, so the libraries they link must be there.
depends="$(dpkg-deb -f "$deb" Depends)"
libraries=(libc6 libstdc++6)
[ "$gui" = 1 ] && libraries+=(libqt6widgets6)
for library in "${libraries[@]}"; do
    [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
[ "$("$root/usr/bin/tabrun" --version)" = "tabrun $version" ] || fail "the unpacked tabrun has another version"

mkdir "$work/installed" "$work/built"
"$root/usr/bin/tabrun" "$examples" "$work/installed" /quiet
"$tabrun" "$examples" "$work/built" /quiet
[ -n "$(find "$work/built" -name '*.csv')" ] || fail "the examples gave no CSV files"
diff -r "$work/built" "$work/installed" || fail "the unpacked tabrun wrote other files than the build tree's"

pages=(tabrun.1.gz)
[ "$gui" = 1 ] && pages+=(tabulon.1.gz)
for page in "${pages[@]}"; do
    file="$root/usr/share/man/man1/$page"
    [ -f "$file" ] || fail "no manual page $page"
    warnings="$(zcat "$file" | groff -man -Tutf8 -ww -z 2>&1)"
    [ -z "$warnings" ] || fail "$page: $warnings"
done
for doc in copyright changelog.gz LICENSE README.md; do
    [ -f "$root/usr/share/doc/tabulon/$doc" ] || fail "no $doc in usr/share/doc/tabulon"
done

if [ "$gui" = 1 ]; then
    id=org.tabulon.Tabulon
    desktop="$root/usr/share/applications/$id.desktop"
    metainfo="$root/usr/share/metainfo/$id.metainfo.xml"
    [ -f "$desktop" ] && [ -f "$metainfo" ] || fail "no desktop entry or metadata for $id"
    desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
    appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
        { cat "$work/appstream.log"; fail "the metadata does not validate"; }
    program="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
    [ -x "$root/usr/bin/$program" ] || fail "the desktop entry starts $program, which the package lacks"
    icon="$(sed -n 's/^Icon=//p' "$desktop")"
    [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "the metadata launches another desktop entry"
    grep -q "<release version=\"$version\"" "$metainfo" || fail "the metadata names another release"
    [ -f "$root/usr/share/tabulon/help.html" ] || fail "no help page"
fi

# Lintian: warnings and notes are read by a person; errors fail the test.
lintian_status=0
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || lintian_status=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
[ "$lintian_status" = 0 ] || fail "lintian reports errors"
echo "package test: $(basename "$deb") is sound"
