#!/usr/bin/env bash
# Stack throughput: builds the Python package and the simulator in build/,
# then runs bench/bench_stack.py, which replaces the "Stack throughput"
# section of bench/results.md.
#
#   scripts/bench_stack.sh [--pairs N] [--size N] [--workers N...]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target fc_python_package slcsim_tool
/usr/bin/python3 bench/bench_stack.py --build build "$@"
