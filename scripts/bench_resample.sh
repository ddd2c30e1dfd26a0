#!/usr/bin/env bash
# Resampling figures: output samples per second per core of the resampler
# beside a naive per-sample reference of the same kernel, the interferogram's
# samples per second, file-to-file resampling beside the same in memory on
# one 2048 x 2048 pair, the kernel-choice error table and the peak memory of
# resampling sparse pairs of one width and two lengths. Writes the
# "Resampling" section of bench/results.md (other sections stay).
#   scripts/bench_resample.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
[ -f "$build/build.ninja" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFC_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target fc_bench_resample fc_kernel_error fc_peak_memory >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$build/bench/fc_bench_resample" --benchmark_filter=-Pair --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/bench.json" --benchmark_out_format=json >/dev/null
# File beside memory: repetitions interleaved, so both see the same load.
"$build/bench/fc_bench_resample" --benchmark_filter=Pair --benchmark_repetitions=7 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/pair.json" --benchmark_out_format=json >/dev/null
"$build/bench/fc_kernel_error" >"$out/kernels.txt"
data="$build/bench-resample-data"
mkdir -p "$data"
: >"$out/memory.txt"
for size in "1GiB 16384 8192" "4.5GiB 16384 36864"; do
  set -- $size
  [ -f "$data/$1/pair.off" ] || "$build/bench/fc_peak_memory" prepare "$data/$1" "$2" "$3"
  kib=$("$build/bench/fc_peak_memory" resample "$data/$1" 2>&1 | tail -1)
  echo "$1 $2 $3 $kib" >>"$out/memory.txt"
done

/usr/bin/python3 - "$out" "$(git rev-parse --short HEAD)" <<'PY'
import json, pathlib, re, sys
out, commit = pathlib.Path(sys.argv[1]), sys.argv[2]
rows = {b["run_name"]: b for f in ("bench.json", "pair.json")
        for b in json.loads((out / f).read_text())["benchmarks"] if b.get("aggregate_name") == "median"}
rate = lambda name: rows[name]["items_per_second"] / 1e6
lib, naive = rate("BM_Resample/0"), rate("BM_ResampleNaive")
text = ["## Resampling", "",
        f"Commit {commit}, one thread, median of 3; a loaded 2-core machine, so the figures are noisy.",
        "", "| What | M samples/s per core |", "|---|---|",
        f"| resampler, 12-tap Kaiser table, two passes along the curve | {lib:.1f} |",
        f"| the same with Doppler demodulation and remodulation | {rate('BM_Resample/3'):.1f} |",
        f"| naive reference: weights from the formula per sample, 12 x 12 sum | {naive:.2f} |",
        f"| interferogram and coherence, 5 x 5 looks (input samples) | {rate('BM_Interferogram'):.0f} |",
        "", "The resampler on threads, wall time (BM_ResampleThreads): "
        f"{rate('BM_ResampleThreads/1/real_time'):.1f} M samples/s on one, "
        f"{rate('BM_ResampleThreads/2/real_time'):.1f} on two "
        f"({rate('BM_ResampleThreads/2/real_time') / rate('BM_ResampleThreads/1/real_time'):.2f}x).",
        "", f"Target >= 10 M samples/s per core: {'met' if lib >= 10 else 'NOT met'} "
        f"({lib / naive:.0f}x the naive reference).", "",
        "From file to file beside in memory (BM_ResamplePairArray, BM_ResamplePairFile): one "
        "2048 x 2048 pair, one resampling thread, wall time, median of 7 interleaved repetitions; "
        "the file run reads the slave (from the page cache) and writes output, mask and XML "
        "(in runs of about 1 MiB, one write per file and run, on the same thread), syncs and renames them.", "",
        "| Slave | In memory, M samples/s | File to file, M samples/s | File / memory |",
        "|---|---|---|---|"]
pair = {}
for arg, name in ((0, "FCOMPLEX"), (1, "SCOMPLEX")):
    mem = rate(f"BM_ResamplePairArray/{arg}/real_time")
    disk = rate(f"BM_ResamplePairFile/{arg}/real_time")
    pair[name] = disk / mem
    text.append(f"| {name} | {mem:.1f} | {disk:.1f} | {disk / mem:.2f}x |")
text += ["", "Target file / memory >= 0.8x: " + ", ".join(
        f"{n} {'met' if r >= 0.8 else 'NOT met'}" for n, r in pair.items()) + ".", "",
        "Kernel choice (`fc_kernel_error`, one dimension, 80 % band occupancy, error power dB):", "",
        "```"] + (out / "kernels.txt").read_text().rstrip().splitlines() + ["```", "",
        "Peak resident memory of `resample_file` on sparse pairs of one width:", "",
        "| Pair | Samples x lines | Peak KiB |", "|---|---|---|"]
for line in (out / "memory.txt").read_text().split("\n"):
    if line.strip():
        name, w, l, kib = line.split()
        text.append(f"| {name} | {w} x {l} | {kib} |")
section = "\n".join(text) + "\n"
path = pathlib.Path("bench/results.md")
old = path.read_text() if path.exists() else ""
m = re.search(r"^## Resampling\n.*?(?=^## |\Z)", old, re.S | re.M)
new = old[:m.start()] + section + ("\n" + old[m.end():] if old[m.end():] else "") if m else \
    old.rstrip("\n") + "\n\n" + section
path.write_text(new)
print(section)
PY
