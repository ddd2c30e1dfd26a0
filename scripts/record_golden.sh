#!/usr/bin/env bash
# Re-records the golden outputs of tests/golden/data/ from the current tree.
# Only for a build whose outputs are known to be right: the golden test
# exists to prove that later builds change no output byte.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-golden-record
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFC_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target test_golden_outputs
FC_RECORD_GOLDEN=1 "$dir/tests/golden/test_golden_outputs"
git status --short tests/golden/data
