#!/usr/bin/env bash
# Builds the thread team, the stage-1 thread pool, a golden run and the resampler with
# ThreadSanitizer in build-tsan/ and runs them: the golden case on several
# thread counts, the pool's own tests and the resampler on threads. Ends with
# "ThreadSanitizer: no data race found." or fails.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh >/dev/null
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFC_BUILD_BENCH=OFF \
  -DFC_PYTHON=OFF -DCMAKE_CXX_FLAGS="-fsanitize=thread" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" \
  -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build-tsan -j "$(nproc)" --target test_numeric test_golden_outputs test_stages \
  test_resampling
# halt_on_error: the first race fails the run; death tests fork, which TSan
# only warns about, so the pool's death test is left to the other builds.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
build-tsan/tests/numeric/test_numeric --gtest_filter='ThreadTeam.*'
build-tsan/tests/golden/test_golden_outputs --gtest_filter='*/fcomplex_w64*threads'
build-tsan/tests/stages/test_stages --gtest_filter='StageOneThreads.*:Pool.*-*Replays*'
build-tsan/tests/resampling/test_resampling --gtest_filter='ResampleThreads.*'
echo "ThreadSanitizer: no data race found."
