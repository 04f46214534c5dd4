#!/usr/bin/env bash
# Installs the packages, builds everything and runs every test.
#   bash scripts/test.sh                  # normal build in build/
#   SANITIZE=address bash scripts/test.sh # ASan + UBSan build in build-address/
#   SANITIZE=thread  bash scripts/test.sh # TSan build in build-thread/
# OSTRA_CMAKE_ARGS, OSTRA_BUILD_TARGET and OSTRA_CTEST_ARGS narrow a run (CI's TSan pass).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

sanitize="${SANITIZE:-}"
build_dir="build${sanitize:+-$sanitize}"
cmake -S . -B "$build_dir" -G Ninja -DSANITIZE="$sanitize" ${OSTRA_CMAKE_ARGS:-}
cmake --build "$build_dir" -j"$(nproc)" ${OSTRA_BUILD_TARGET:+--target "$OSTRA_BUILD_TARGET"}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" ${OSTRA_CTEST_ARGS:-}
