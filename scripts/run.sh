#!/usr/bin/env bash
# Installs, builds, makes sure the bundled QR image service answers on the
# address the program was built for, and opens the window. A service this
# script started is stopped again when the window closes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh qrgen qr-image-service

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (DISPLAY / WAYLAND_DISPLAY unset): start it from a desktop session" >&2
  exit 1
fi

base=$(sed -n 's/^QRGEN_SERVICE_BASE:STRING=//p' build/CMakeCache.txt)
answers() { curl --silent --noproxy '*' --max-time 2 --output /dev/null "$base/api.php?text=%61"; }

service_pid=""
stop_service() { [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null; true; }
trap stop_service EXIT

if ! answers; then
  build/service/qr-image-service &
  service_pid=$!
  for _ in $(seq 50); do answers && break; sleep 0.1; done
  answers || { echo "run.sh: the QR image service does not answer on $base" >&2; exit 1; }
fi

build/app/qrgen
