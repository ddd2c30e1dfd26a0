#!/usr/bin/env bash
# Builds the benchmarks twice -- from the baseline commit (the last one before
# the per-position work was optimised) and from the current tree -- runs both
# side by side and writes bench/results.md. The baseline build gets the
# current bench/ sources, so both sides run the same benchmark code.
#
#   scripts/bench.sh [extra Google Benchmark flags]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

BASELINE=${FC_BENCH_BASELINE:-6614658}
base_src=build-bench-baseline/src
base_build=build-bench-baseline/build
cur_build=build-bench
export FC_BENCH_PAIR_DIR="$root/build-bench-data"
mkdir -p "$FC_BENCH_PAIR_DIR"

configure_and_build() {
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFC_BUILD_TESTS=OFF >/dev/null
  cmake --build "$2" --target fc_bench fc_peak_memory
}

if [ ! -d "$base_src" ]; then
  git worktree add --detach "$base_src" "$BASELINE"
fi
git -C "$base_src" checkout -q --detach "$BASELINE"
rm -rf "$base_src/bench"
cp -r bench "$base_src/bench"
configure_and_build "$base_src" "$base_build"
configure_and_build . "$cur_build"

run_side() { # name build-dir
  (cd "$2" && ./bench/fc_bench --benchmark_out="$root/$2/bench.json" \
     --benchmark_out_format=json "${@:3}" >/dev/null)
}
# Whole-run and kernel benchmarks alternate between the two builds, so load
# from elsewhere on the machine falls on both alike.
run_side baseline "$base_build" --benchmark_filter='^BM_(Fft|Interp|Intensity|Corr|Position|Stage2)' "$@"
mv "$base_build/bench.json" "$base_build/kernels.json"
run_side current "$cur_build" --benchmark_filter='^BM_(Fft|Interp|Intensity|Corr|Position|Stage2)' "$@"
mv "$cur_build/bench.json" "$cur_build/kernels.json"
run_side baseline "$base_build" --benchmark_filter='^BM_WholeRun' "$@"
mv "$base_build/bench.json" "$base_build/run.json"
run_side current "$cur_build" --benchmark_filter='^BM_WholeRun' "$@"
mv "$cur_build/bench.json" "$cur_build/run.json"

# Peak resident memory of a run on sparse 1 GiB and 4 GiB pairs.
mem="$root/build-bench-data/memory.txt"
: >"$mem"
for size in "1GiB 8192 16384" "4GiB 16384 32768"; do
  set -- $size
  dir="$root/build-bench-data/sparse_$1"
  [ -f "$dir/pair.off" ] || "$cur_build/bench/fc_peak_memory" prepare "$dir" "$2" "$3"
  for side in "baseline $base_build" "current $cur_build"; do
    set -- $size $side
    cp "$dir/pair.off" "$dir/pair.off.keep"
    kib=$("$5/bench/fc_peak_memory" run "$dir" 2>&1 >/dev/null | tail -1)
    mv "$dir/pair.off.keep" "$dir/pair.off"
    echo "$1 $2x$3 $4 $kib" >>"$mem"
  done
done

python3 scripts/bench_table.py "$BASELINE" "$(git rev-parse --short HEAD)" \
  "$base_build" "$cur_build" "$mem" >bench/results.md
cat bench/results.md
