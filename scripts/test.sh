#!/usr/bin/env bash
# Configures, builds and runs every test.
#   scripts/test.sh                         build/ with the default options
#   scripts/test.sh <dir> [cmake options]   another build folder, e.g. a sanitizer build
# Extra ctest arguments can be passed in CTEST_ARGS (for example CTEST_ARGS="-L threads").
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja "$@"
cmake --build "$dir" -j"$(nproc)"
# shellcheck disable=SC2086
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" ${CTEST_ARGS:-}
