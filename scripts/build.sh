#!/usr/bin/env bash
# Installs the packages and builds everything into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default
cmake --build --preset default -j"$(nproc)"
