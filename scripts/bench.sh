#!/usr/bin/env bash
# Builds the benchmarks from baseline commits and from the current tree, runs
# them side by side and writes bench/results.md. The baseline is the last
# commit before the transform paths whose stage library the benchmarks call
# (FC_BENCH_BASELINES, a list, overrides it; a commit must build with the
# current bench/ sources, which every baseline build gets so all sides run
# the same benchmark code). The current
# build's transforms also run with each instruction-set path forced
# (FINECOREG_FFT_PATH).
#
#   scripts/bench.sh [extra Google Benchmark flags]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

read -r -a baselines <<<"${FC_BENCH_BASELINES:-15475a1}"
cur_build=build-bench
export FC_BENCH_PAIR_DIR="$root/build-bench-data"
mkdir -p "$FC_BENCH_PAIR_DIR"

configure_and_build() {
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFC_BUILD_TESTS=OFF >/dev/null
  cmake --build "$2" -j2 --target fc_bench fc_peak_memory
}

builds=()
for base in "${baselines[@]}"; do
  src=build-bench-baseline-$base/src
  rm -rf "$src"
  mkdir -p "$src"
  git archive "$base" | tar -x -C "$src"
  rm -rf "$src/bench"
  cp -r bench "$src/bench"
  configure_and_build "$src" "build-bench-baseline-$base/build"
  builds+=("build-bench-baseline-$base/build")
done
configure_and_build . "$cur_build"
builds+=("$cur_build")

run_side() { # build-dir output-name [flags]
  (cd "$1" && ./bench/fc_bench --benchmark_out="$root/$1/$2.json" \
     --benchmark_out_format=json "${@:3}" >/dev/null)
}
# Each group of benchmarks runs on every build in turn, so load from
# elsewhere on the machine falls on all alike.
for b in "${builds[@]}"; do
  run_side "$b" kernels --benchmark_filter='^BM_(Fft|Interp|Intensity|Corr|Position|Stage2)' "$@"
done
for path in scalar sse2 avx2; do
  FINECOREG_FFT_PATH=$path run_side "$cur_build" "fft_$path" --benchmark_filter='^BM_FftNd' "$@"
done
# The whole run against an isolated position of the same window size, both
# repeated and interleaved at random so that load falls on both alike.
for b in "${builds[@]}"; do
  run_side "$b" run --benchmark_filter='^BM_(WholeRun|Position/64$)' \
    --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true "$@"
done

# One pair on 1 and 2 threads (the current tree only), wall time.
run_side "$cur_build" threads --benchmark_filter='^BM_WholeRunThreads' \
  --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true "$@"

# Peak resident memory of a run on sparse 1 GiB and 4 GiB pairs.
mem="$root/build-bench-data/memory.txt"
: >"$mem"
for size in "1GiB 8192 16384" "4GiB 16384 32768"; do
  set -- $size
  dir="$root/build-bench-data/sparse_$1"
  [ -f "$dir/pair.off" ] || "$cur_build/bench/fc_peak_memory" prepare "$dir" "$2" "$3"
  for b in "${builds[@]}"; do
    cp "$dir/pair.off" "$dir/pair.off.keep"
    kib=$("$b/bench/fc_peak_memory" run "$dir" 2>&1 >/dev/null | tail -1)
    mv "$dir/pair.off.keep" "$dir/pair.off"
    echo "$1 $2x$3 $b $kib" >>"$mem"
  done
done

# The stack section comes from scripts/bench_stack.sh; it is kept as it is.
stack_section=$(sed -n '/^## Stack throughput/,$p' bench/results.md 2>/dev/null || true)
labels=()
for base in "${baselines[@]}"; do labels+=("$base"); done
labels+=("$(git rev-parse --short HEAD)")
/usr/bin/python3 scripts/bench_table.py --labels "${labels[@]}" --builds "${builds[@]}" \
  --memory "$mem" >bench/results.md
if [ -n "$stack_section" ]; then
  printf '\n%s\n' "$stack_section" >>bench/results.md
fi
# The resampling section has a script of its own; it runs on the same build.
scripts/bench_resample.sh "$cur_build" >/dev/null
cat bench/results.md
