#!/usr/bin/env bash
# Installs, builds and runs every test. Fails when no test ran.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
ctest --preset default --no-tests=error
