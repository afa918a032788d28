#!/usr/bin/env bash
# Builds the Debian package in build-package/: a Release build with Debian's
# hardening flags, stripped, its dependencies found by dpkg-shlibdeps.
# Prints the package's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flag() { dpkg-buildflags --get "$1"; }
cmake -S . -B build-package --fresh -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DQRGEN_DEBIAN_PACKAGE=ON \
    -DCMAKE_C_FLAGS="$(flag CPPFLAGS) $(flag CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(flag CPPFLAGS) $(flag CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flag LDFLAGS)" >&2
cmake --build build-package -j"$(nproc)" >&2
rm -f build-package/qrgen_*.deb
(cd build-package && cpack -G DEB) >&2
ls "$PWD"/build-package/qrgen_*.deb
