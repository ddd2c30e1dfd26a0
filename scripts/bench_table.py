#!/usr/bin/env python3
"""Writes the markdown tables of scripts/bench.sh from the builds' JSON.

The last build is the current tree, the ones before it are baselines, oldest
first; speed-ups are the current build's against each baseline.
"""
import argparse
import json
import os
import platform
import subprocess

parser = argparse.ArgumentParser()
parser.add_argument("--labels", nargs="+", required=True)
parser.add_argument("--builds", nargs="+", required=True)
parser.add_argument("--memory", required=True)
args = parser.parse_args()
labels, builds = args.labels, args.builds
current = builds[-1]


def load(build, name):
    path = f"{build}/{name}.json"
    if not os.path.exists(path):
        return {}
    with open(path) as f:
        return {b["name"]: b for b in json.load(f)["benchmarks"]}


def fmt_time(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    return f"{ns / 1e3:.1f} us"


def cpu_ns(b):
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    return b["cpu_time"] * scale


def machine():
    model = "unknown processor"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/cpuinfo") as f:
        flags = next((l for l in f if l.startswith("flags")), "")
    vector = ", ".join(x for x in ("sse2", "avx2", "fma", "avx512f") if f" {x}" in flags)
    compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout
    load1, load5, _ = os.getloadavg()
    return (f"{model}, {os.cpu_count()} cores ({vector}), {platform.system()} "
            f"{platform.release()}; {compiler.splitlines()[0] if compiler else 'c++'}; "
            f"load average {load1:.1f} (1 min), {load5:.1f} (5 min) when the tables were written")


kernels = [load(b, "kernels") for b in builds]
runs = [load(b, "run") for b in builds]
paths = {p: load(current, f"fft_{p}") for p in ("scalar", "sse2", "avx2")}

print(f"# Benchmarks: baseline {', '.join(labels[:-1])} against {labels[-1]}\n")
print(f"Machine: {machine()}.\n")
print("Method: scripts/bench.sh builds every side RelWithDebInfo (-O2 -g, "
      "-ffp-contract=off) from its commit with the same bench/ sources and runs "
      "them one after the other, group by group; Google Benchmark, CPU time of "
      "the process per call (the machine is shared, so wall time would measure "
      "the neighbours too). Results of the module are the same bits on every side "
      "(golden tests). Other work on the machine still moves single figures by up to "
      "about 1.5x between runs (compare the current and the forced avx2 columns, the "
      "same code), so compare columns of one run.\n")

print("## One 2-D transform (fft_nd, single-precision complex, 2W x 2W)\n")
print("CPU time per transform (BM_FftNd does a forward and an inverse per call); "
      "FFTW: fftwf_plan_dft_2d, in place, FFTW_MEASURE, same sizes and calls, in the "
      "current build's run. Current build also with each path forced "
      "(FINECOREG_FFT_PATH).\n")
cols = labels + ["scalar", "sse2", "avx2", "FFTW", "current / FFTW"]
print("| Size | " + " | ".join(cols) + " |")
print("|---|" + "---:|" * len(cols))
for w in (32, 64, 128):
    name = f"BM_FftNd/{w}"
    cells = [fmt_time(cpu_ns(k[name]) / 2) if name in k else "-" for k in kernels]
    cells += [fmt_time(cpu_ns(paths[p][name]) / 2) if name in paths[p] else "-"
              for p in ("scalar", "sse2", "avx2")]
    ref = kernels[-1].get(f"BM_FftwReference/{w}")
    cells.append(fmt_time(cpu_ns(ref) / 2) if ref else "-")
    cells.append(f"{cpu_ns(kernels[-1][name]) / cpu_ns(ref):.2f}x"
                 if ref and name in kernels[-1] else "-")
    print(f"| {2 * w} x {2 * w} | " + " | ".join(cells) + " |")

print("\n## Kernels and one grid position\n")
print("CPU time per call. BM_Position/W: ramp removal of both patches, two "
      "oversamplings, correlation and peak fit of a W x W window; cost = current "
      "over baseline.\n")
print("| Benchmark | " + " | ".join(labels) + " | "
      + " | ".join(f"cost vs {l}" for l in labels[:-1]) + " |")
print("|---|" + "---:|" * (2 * len(labels) - 1))
for name, b in kernels[-1].items():
    if name.startswith("BM_FftwReference"):
        continue
    cells = [fmt_time(cpu_ns(k[name])) if name in k else "-" for k in kernels]
    cost = [f"{cpu_ns(b) / cpu_ns(k[name]):.2f}x" if name in k else "-" for k in kernels[:-1]]
    print(f"| {name} | " + " | ".join(cells) + " | " + " | ".join(cost) + " |")

def median(run, name):
    return run.get(f"{name}_median")


rows = [("reading", "read_us"), ("cutting windows", "cut_us"),
        ("measure_window (ramp removal, oversampling, correlation, peak fit)", "measure_us")]


def split_of(w, s):
    if not w or not s:
        return [None] * (len(rows) + 2)
    parts = [s.get(key) for _, key in rows]
    known = sum(p for p in parts if p is not None)
    parts.append(max(w["stage1_per_position_us"] - known, 0.0))
    parts.append(w["stage2_per_position_us"])
    return parts


print("\n## Whole run: 64 x 64 windows, 32 x 32 grid\n")
print("Process CPU time (user + system) per grid position; median of 5 repetitions of "
      "3 runs each, interleaved at random with 5 repetitions of BM_Position/64 (one "
      "isolated position, same window) in the same process, so both meet the same "
      "load. At 2048 x 2048 the windows lie side by side; at 4096 x 4096 half of "
      "every line read lies between windows.\n")
isolated = [median(r, "BM_Position/64") for r in runs]
for size in (2048, 4096):
    whole = [median(r, f"BM_WholeRun/{size}/iterations:3/manual_time") for r in runs]
    split = [median(r, f"BM_WholeRunSplit/{size}/iterations:3") for r in runs]
    print(f"### {size} x {size} FCOMPLEX pair\n")
    print("| Figure | " + " | ".join(labels) + " |")
    print("|---|" + "---:|" * len(labels))
    print("| time per position | "
          + " | ".join(f"{w['per_position_us']:.0f} us" if w else "-" for w in whole) + " |")
    print("| positions per second | "
          + " | ".join(f"{w['positions_per_s']:.0f}" if w else "-" for w in whole) + " |")
    if whole[-1]:
        print(f"| cost of {labels[-1]} against the column | "
              + " | ".join(f"{whole[-1]['per_position_us'] / w['per_position_us']:.2f}x"
                           if w else "-" for w in whole) + " |")
    print("| isolated position (BM_Position/64) | "
          + " | ".join(f"{cpu_ns(i) / 1e3:.0f} us" if i else "-" for i in isolated) + " |")
    print("| whole-run position against the isolated one | "
          + " | ".join(f"{w['per_position_us'] * 1e3 / cpu_ns(i):.2f}x" if w and i else "-"
                       for w, i in zip(whole, isolated)) + " |")

    print("\nSplit per position (stage 1 steps from a timed replay of its loop; "
          "\"other\" is the whole stage 1 less their sum, shown as 0 where load made "
          "the replay's steps cost more than the whole stage):\n")
    print("| Step | " + " | ".join(labels) + " |")
    print("|---|" + "---:|" * len(labels))
    parts = [split_of(w, s) for w, s in zip(whole, split)]
    names = [label for label, _ in rows] + ["other stage 1 (zero test, progress, output, "
                                            "average intensity, start-up)", "stage 2"]
    for i, label in enumerate(names):
        print(f"| {label} | "
              + " | ".join(f"{p[i]:.1f} us" if p[i] is not None else "-" for p in parts)
              + " |")
    print()

# One pair on threads: wall time, current tree.
threaded = load(current, "threads")
one_thread = median(threaded, "BM_WholeRunThreads/2048/1/iterations:3/manual_time")
two_threads = median(threaded, "BM_WholeRunThreads/2048/2/iterations:3/manual_time")
serial = None
if one_thread and two_threads:
    t1, t2 = one_thread["wall_per_position_us"], two_threads["wall_per_position_us"]
    # Amdahl: t(n) = t1 (s + (1 - s) / n), so from two threads s = 2 t2 / t1 - 1.
    serial = min(max(2.0 * t2 / t1 - 1.0, 0.0), 1.0)
    print("## One pair on threads: 2048 x 2048, 64 x 64 windows, 32 x 32 grid\n")
    print("Wall time of the whole run (both stages) per grid position, stage 1 on 1 and 2 "
          "threads (BM_WholeRunThreads); median of 5 repetitions of 3 runs each, interleaved at "
          "random. Wall time on a shared 2-core machine: load from elsewhere slows either "
          "side, so the ratio moves with it by a few hundredths.\n")
    print("| Figure | 1 thread | 2 threads |")
    print("|---|---:|---:|")
    print(f"| whole run per position (wall) | {t1:.0f} us | {t2:.0f} us |")
    print(f"| stage 1 per position (wall) | {one_thread['stage1_wall_per_position_us']:.0f} us | "
          f"{two_threads['stage1_wall_per_position_us']:.0f} us |")
    print(f"| against 1 thread | 1.00x | {t2 / t1:.2f}x |")
    print()
    print(f"Serial fraction from these figures (Amdahl, s = 2 t2 / t1 - 1): {serial:.3f}. "
          f"Predicted speed-up of the same code: {1 / (serial + (1 - serial) / 16):.1f}x on 16 "
          f"cores, {1 / (serial + (1 - serial) / 64):.1f}x on 64 (the positions of a 32 x 32 "
          "grid are handed out one by one across the rows read ahead, so every core finds "
          "work; the threads, the calling one among them, read the rows ahead side by side, by "
          "position in the files; writing and stage 2 stay on the calling thread).\n")

# The performance targets, each from figures of this one run.
print("## Targets\n")
print("| Target | Measured | Limit |")
print("|---|---:|---:|")
fft, fftw = kernels[-1].get("BM_FftNd/64"), kernels[-1].get("BM_FftwReference/64")
if fft and fftw:
    print(f"| 128 x 128 transform against FFTW's | {cpu_ns(fft) / cpu_ns(fftw):.2f}x | 2.5x |")
position = [k.get("BM_Position/64") for k in kernels]
if position[0] and position[-1]:
    print(f"| 64 x 64 position against {labels[0]} | "
          f"{cpu_ns(position[-1]) / cpu_ns(position[0]):.2f}x | 0.45x |")
for size in (2048, 4096):
    w = median(runs[-1], f"BM_WholeRun/{size}/iterations:3/manual_time")
    if w and isolated[-1]:
        print(f"| whole-run position ({size} x {size}) against an isolated one | "
              f"{w['per_position_us'] * 1e3 / cpu_ns(isolated[-1]):.2f}x | 1.2x |")
    s = median(runs[-1], f"BM_WholeRunSplit/{size}/iterations:3")
    if w and s and s.get("measure_us"):
        outside = w["per_position_us"] - s["measure_us"]
        # Below zero, load made the replay's chain cost more than the whole
        # run it is taken from: the figure is then only a bound.
        note = " (load: the replay's chain cost more than the whole run)" if outside < 0 else ""
        print(f"| time outside the per-position chain ({size} x {size}) against the chain's | "
              f"{outside / s['measure_us']:.2f}x{note} | 0.2x |")
if one_thread and two_threads:
    print(f"| whole run (2048 x 2048) on 2 threads against 1 (wall) | "
          f"{two_threads['wall_per_position_us'] / one_thread['wall_per_position_us']:.2f}x "
          "| 0.55x |")
print()

print("## Peak resident memory of a run (sparse pairs, 64 x 64 windows, 8 x 8 grid)\n")
print("| Image | Samples x lines | Build | Peak RSS |")
print("|---|---|---|---:|")
label_of = dict(zip(builds, labels))
with open(args.memory) as f:
    for line in f:
        size, dims, build, kib = line.split()
        print(f"| {size} | {dims} | {label_of.get(build, build)} | {int(kib) / 1024:.1f} MiB |")
