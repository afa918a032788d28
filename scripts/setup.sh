#!/usr/bin/env bash
# Installs every Debian package the build, the window and the tests need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-translations-l10n libgl-dev
  libcurl4-openssl-dev libpng-dev libjpeg62-turbo-dev zlib1g-dev
  libmicrohttpd-dev libqrencode-dev
  libzxing-dev  # the window reads each shown picture back
  zbar-tools libzbar-dev  # bench_scan measures zbar beside zxing-cpp
  fonts-wqy-microhei
  xvfb xauth openbox xfwm4 dbus-daemon x11-utils  # window tests that need a real X server and window managers
  weston qt6-wayland  # the window under a Wayland compositor
  lintian desktop-file-utils appstream dpkg-dev fakeroot file  # packaging and its checks
  librsvg2-bin  # the icons are rendered from one SVG
  groff-base  # the manual pages are checked
  debootstrap  # scripts/check_fresh_install.sh
  curl  # run.sh asks whether the service answers
)

# Nothing to do, and no apt-get update, when everything is there already.
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
