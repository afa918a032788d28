#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks what landed the way
# the desktop and its tools read it: the entry, the AppStream metadata, the
# icon sizes and the manual pages.
# Usage: tst_install.sh BUILD_DIR APP_ID
set -euo pipefail
build=$1
id=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# A validator passes only when it has nothing at all to say.
silent() { local said; said=$("$@" 2>&1) || fail "$* failed: $said"; [ -z "$said" ] || fail "$*: $said"; }

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr
for program in bin/qrgen libexec/qrgen/qr-image-service; do
    [ -x "$usr/$program" ] || fail "$program is not installed"
done

entry=$usr/share/applications/$id.desktop
silent desktop-file-validate "$entry"
grep -qx "Exec=qrgen" "$entry" || fail "the entry does not start bin/qrgen"
grep -qx "Icon=$id" "$entry" || fail "the entry's icon is not $id"
appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
    fail "$(appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml")"

icons=$usr/share/icons/hicolor
for size in 16 24 32 48 64 128 256; do
    png=$icons/${size}x${size}/apps/$id.png
    [[ $(file -b "$png") == "PNG image data, $size x $size,"* ]] || fail "$png: $(file -b "$png")"
done
rsvg-convert --width=16 --height=16 "$icons/scalable/apps/$id.svg" >/dev/null || fail "the SVG icon does not render"

for page in man1/qrgen.1.gz man8/qr-image-service.8.gz; do
    silent bash -c 'zcat "$1" | LC_ALL=C.UTF-8 groff -man -K utf8 -z -ww -Tutf8' page "$usr/share/man/$page"
done
[ -s "$usr/share/doc/qrgen/copyright" ] || fail "no copyright file"
echo "installed and valid: $(find "$root" -type f | wc -l) files"
