#!/usr/bin/env bash
# Installs the packages and builds into build/: the given targets, or all.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build --preset default -j"$(nproc)" "${targets[@]}"
