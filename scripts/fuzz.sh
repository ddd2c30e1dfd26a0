#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz) and runs each for a
# bounded time on a writable copy of its seed corpus.
#
#   scripts/fuzz.sh [seconds per target, default 60] [target...]
#
# Work dir (corpora, crash artifacts, logs): $FC_FUZZ_WORK_DIR, default
# build-fuzz/fuzz-work; the corpora grow from run to run. Exit status 1 when
# any target reported a crash, leak, timeout or sanitizer error.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
shift || true
build=${FC_FUZZ_BUILD_DIR:-$root/build-fuzz}
work=${FC_FUZZ_WORK_DIR:-$build/fuzz-work}

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ not found (apt-get install clang)" >&2
  exit 2
fi
# libFuzzer's runtime ships in libclang-rt-<version>-dev on Debian.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' \
  >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null; then
  echo "fuzz: clang cannot link libFuzzer; install libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev" >&2
  exit 2
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFC_FUZZ=ON -DFC_BUILD_TESTS=OFF -DFC_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fc_fuzzers

if [ $# -eq 0 ]; then
  set -- $(cd "$build/fuzz" && ls fuzz_* 2>/dev/null | grep -v '\.' || true)
fi

# The harnesses rewrite their scratch files for every input (stage 2 also
# syncs the file it writes): keep them in memory when possible.
scratch_root=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_root=/dev/shm
scratch=$(mktemp -d "$scratch_root/fc_fuzz.XXXXXX")
trap 'rm -rf "$probe" "$scratch"' EXIT
export TMPDIR=$scratch

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
findings=0
summary=()
for target in "$@"; do
  name=${target#fuzz_}
  dir="$work/$target"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  if [ -d "fuzz/corpus/$name" ]; then
    cp -n "fuzz/corpus/$name"/* "$dir/corpus/" 2>/dev/null || true
  fi
  dict=()
  [ -f "fuzz/dict/$name.dict" ] && dict=(-dict="fuzz/dict/$name.dict")
  before=$(ls "$dir/artifacts" | wc -l)
  echo "== $target: ${seconds} s =="
  # -close_fd_mask=1: the readers' warnings on standard output are expected.
  set +e
  "$build/fuzz/$target" "$dir/corpus" "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
    -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
    >"$dir/last.log" 2>&1
  status=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/last.log" | tail -1)
  after=$(ls "$dir/artifacts" | wc -l)
  line="$target: status $status, ${execs:-?} executions, corpus $(ls "$dir/corpus" | wc -l) files"
  if [ "$status" -ne 0 ] || [ "$after" -gt "$before" ]; then
    findings=1
    line="$line, FINDING (log $dir/last.log, artifacts $dir/artifacts)"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$dir/last.log" | head -5 || true
  fi
  summary+=("$line")
done

echo "== summary =="
printf '%s\n' "${summary[@]}"
exit "$findings"
