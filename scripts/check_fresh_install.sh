#!/usr/bin/env bash
# Installs the package as a new user would, into a fresh minimal Debian 12
# made with debootstrap under /tmp from this machine's apt mirror, then
# starts the desktop entry's Exec line under Xvfb, presses 生成二维码 and reads
# the picture back from a screenshot. Needs root and what scripts/setup.sh
# installs.
# Usage: check_fresh_install.sh [PACKAGE.deb]
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "${1:-$(ls build-package/qrgen_*.deb)}")
id=io.github.qrgen.QrGenerator
started=$(date +%s)
say() { echo "check_fresh_install: $* ($(($(date +%s) - started)) s)"; }

mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list)
root=$(mktemp -d /tmp/qrgen-fresh.XXXXXX)
cleanup() {
    # Lazily: the display server may still be leaving and hold them.
    umount --lazy "$root/dev" 2>/dev/null || true
    umount --lazy "$root/proc" 2>/dev/null || true
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT

debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 ||
    { tail -20 "$root.log"; exit 1; }
rm -f "$root.log"
say "debootstrap done"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
in_root() { chroot "$root" env DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 "$@"; }

cp "$deb" "$root/tmp/"
in_root apt-get install -y -q "/tmp/$(basename "$deb")"
say "package installed"
# Every library the programs need came with the package's dependencies.
for program in /usr/bin/qrgen /usr/libexec/qrgen/qr-image-service; do
    ! in_root ldd "$program" | grep "not found" || { echo "$program misses a library"; exit 1; }
done

# The display and the tools to look at it come only now, after the check above.
in_root apt-get install -y -q --no-install-recommends xvfb xauth xdotool x11-utils x11-apps >/dev/null
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/$id.desktop")
# Opens the window, presses the text page's "生成二维码" (按钮1, centred at
# 556,180 in the client area), takes a screenshot, and lists the TCP sockets
# the program and its service hold: there must be none.
in_root xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    '"$exec_line"' & pid=$!
    for _ in $(seq 100); do
        window=$(xdotool search --class qrgen 2>/dev/null | head -1)
        [ -n "$window" ] && break
        sleep 0.2
    done
    [ -n "$window" ] || exit 1
    xprop -id "$window" WM_CLASS _NET_WM_NAME
    xdotool mousemove --window "$window" 556 180 click 1
    sleep 3
    xwd -root -silent > /tmp/screen.xwd
    service=$(for exe in /proc/[0-9]*/exe; do
        [ "$(readlink "$exe")" = /usr/libexec/qrgen/qr-image-service ] && echo "${exe%/exe}"
    done)
    echo "service: $service"
    sockets=$(for fd in /proc/$pid/fd/* $(for p in $service; do echo "$p"/fd/*; done); do readlink "$fd"; done |
        sed -n "s/^socket:\[\([0-9]*\)\]$/\1/p")
    for inode in $sockets; do
        awk -v inode="$inode" '"'"'$10 == inode { print "TCP socket:", $0 }'"'"' /proc/net/tcp /proc/net/tcp6
    done > /tmp/tcp.txt
    kill "$pid" ${service:+$(basename $service)} && wait "$pid" 2>/dev/null
    true' || { echo "check_fresh_install: no window appeared"; exit 1; }
say "the entry's Exec line opened the window"
[ ! -s "$root/tmp/tcp.txt" ] || { cat "$root/tmp/tcp.txt"; echo "check_fresh_install: a TCP socket is open"; exit 1; }
say "no TCP socket was opened"
shown=$(zbarimg --raw -q --nodbus -Sbinary "$root/tmp/screen.xwd")
[ "$shown" = "文本长度限制600，建议在300以内，这样低配机也能扫描！" ] ||
    { echo "check_fresh_install: the window shows no QR picture of the text (read: $shown)"; exit 1; }
say "生成二维码 showed the picture of the text"
