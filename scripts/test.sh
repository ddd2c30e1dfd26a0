#!/usr/bin/env bash
# Builds the project twice (normal, and with AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs the whole test suite in both.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

echo "== normal build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== sanitizer build (ASan + UBSan) =="
# allocator_may_return_null: an impossible allocation must reach the module's
# own fatal message, as it does without the sanitizer.
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DFC_SANITIZE=ON -DFC_BUILD_BENCH=OFF -DFC_PYTHON=OFF
echo "All tests passed (normal and sanitizer builds)."
