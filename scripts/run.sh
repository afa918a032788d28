#!/usr/bin/env bash
# Installs, builds and opens the window. The program starts its own private
# service; a build without it (QRGEN_PRIVATE_SERVICE=OFF) gets the bundled
# service started here when nothing answers on its address, and stopped
# again when the window closes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh qrgen qr-image-service

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (DISPLAY / WAYLAND_DISPLAY unset): start it from a desktop session" >&2
  exit 1
fi

private=$(sed -n 's/^QRGEN_PRIVATE_SERVICE:BOOL=//p' build/CMakeCache.txt)
case "${private^^}" in
  OFF | 0 | NO | FALSE | N) ;;
  *) exec build/app/qrgen ;;
esac

base=$(sed -n 's/^QRGEN_SERVICE_BASE:STRING=//p' build/CMakeCache.txt)
answers() { curl --silent --fail --noproxy '*' --max-time 2 --output /dev/null "$base/api.php?text=%61"; }

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
