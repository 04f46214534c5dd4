#!/usr/bin/env bash
# Installs the packages, builds, and runs the application against the bundled demo station.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build -j"$(nproc)"
echo "The application and the demo station are not built yet; this command only builds for now."
