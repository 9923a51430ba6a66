#!/usr/bin/env bash
# The Debian package made from a build tree: file list, computed Depends, menu entry, icon, manual.
# Usage: tst_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if ! cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    fail "cpack could not build the package"
fi
deb=$work/chamberctl_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(cd "$work" && echo *.deb)"

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/chamberctl ./usr/bin/chamber-sim \
    ./usr/share/applications/chamberctl.desktop \
    ./usr/share/icons/hicolor/scalable/apps/chamberctl.svg \
    ./usr/share/man/man1/chamberctl.1.gz \
    ./usr/share/doc/chamberctl/examples/heat-soak.profile \
    ./usr/share/doc/chamberctl/examples/chamberctl-autostart.desktop; do
    grep -qxF "$f" <<<"$files" || fail "the package lacks $f"
done

# Computed by dpkg-shlibdeps from the binaries, so each library shows with its package's version.
depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libqt6core6 libqt6widgets6 libqt6serialport6 libqcustomplot2.1-qt6 libmodbus5 \
    libpaho-mqttpp3-1 libpaho-mqtt1.3 \
    qt6-qpa-plugins; do
    grep -qE "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p: $depends"
done
grep -qE 'libqt6core6[^,]* \(>= ' <<<"$depends" || fail "Depends has no computed versions: $depends"

dpkg-deb -x "$deb" "$work/root"
for entry in applications/chamberctl.desktop doc/chamberctl/examples/chamberctl-autostart.desktop; do
    desktop-file-validate "$work/root/usr/share/$entry" || fail "the desktop entry $entry is not valid"
done
rsvg-convert -w 16 -h 16 -o "$work/icon.png" \
    "$work/root/usr/share/icons/hicolor/scalable/apps/chamberctl.svg" || fail "the icon does not render"
warnings=$(zcat "$work/root/usr/share/man/man1/chamberctl.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$warnings" ] || fail "the manual page has faults: $warnings"
zcat "$work/root/usr/share/man/man1/chamberctl.1.gz" | grep -qF "chamberctl $version" ||
    fail "the manual page does not carry the version"
shown=$("$work/root/usr/bin/chamberctl" --version)
[ "$shown" = "chamberctl $version" ] || fail "the packaged program says '$shown'"

echo "$(basename "$deb"): $(wc -l <<<"$files") entries; Depends: $depends"
