#!/usr/bin/env bash
# The main job. Installs what is missing and builds the project.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
echo "Built: build/libfinecoreg.so (plug-in), build/libfinecoreg_core.a"
