#!/usr/bin/env python3
"""Writes the markdown table of scripts/bench.sh from the two builds' JSON."""
import json
import sys

baseline, current, base_dir, cur_dir, memory = sys.argv[1:6]


def load(build, name):
    with open(f"{build}/{name}.json") as f:
        return {b["name"]: b for b in json.load(f)["benchmarks"]}


def fmt_time(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    return f"{ns / 1e3:.1f} us"


def cpu_ns(b):
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    return b["cpu_time"] * scale


kb, kc = load(base_dir, "kernels"), load(cur_dir, "kernels")
rb, rc = load(base_dir, "run"), load(cur_dir, "run")

print(f"# Benchmarks: baseline {baseline} against {current}\n")
print("CPU time per call, both builds RelWithDebInfo, run one after the other on "
      "the same machine (scripts/bench.sh).\n")
print("| Benchmark | Baseline | Current | Speed-up |")
print("|---|---:|---:|---:|")
for name, b in kb.items():
    if name in kc:
        t0, t1 = cpu_ns(b), cpu_ns(kc[name])
        print(f"| {name} | {fmt_time(t0)} | {fmt_time(t1)} | {t0 / t1:.2f}x |")

w0, w1 = rb["BM_WholeRun/iterations:3/manual_time"], rc["BM_WholeRun/iterations:3/manual_time"]
s0, s1 = rb["BM_WholeRunSplit/iterations:3"], rc["BM_WholeRunSplit/iterations:3"]
print("\n## Whole run: 4096 x 4096 FCOMPLEX pair, 64 x 64 windows, 32 x 32 grid\n")
print("Process CPU time (user + system) per grid position.\n")
print("| Figure | Baseline | Current | Speed-up |")
print("|---|---:|---:|---:|")
print(f"| time per position | {w0['per_position_us']:.0f} us | {w1['per_position_us']:.0f} us "
      f"| {w0['per_position_us'] / w1['per_position_us']:.2f}x |")
print(f"| positions per second | {w0['positions_per_s']:.0f} | {w1['positions_per_s']:.0f} | |")

rows = [("reading", "read_us"), ("ramp removal", "ramp_us"),
        ("oversampling", "oversample_us"), ("correlation", "correlate_us"),
        ("peak fit", "peak_us")]


def split(w, s):
    parts = [(label, s[key]) for label, key in rows]
    other = w["stage1_per_position_us"] - sum(v for _, v in parts)
    parts.append(("other stage 1 (patches, zero test, output)", max(other, 0.0)))
    parts.append(("stage 2", w["stage2_per_position_us"]))
    return parts


print("\nSplit per position (stage 1 steps from a timed replay of its loop; "
      "\"other\" is the whole stage 1 less their sum):\n")
print("| Step | Baseline | Share | Current | Share |")
print("|---|---:|---:|---:|---:|")
for (label, v0), (_, v1) in zip(split(w0, s0), split(w1, s1)):
    print(f"| {label} | {v0:.1f} us | {100 * v0 / w0['per_position_us']:.1f}% "
          f"| {v1:.1f} us | {100 * v1 / w1['per_position_us']:.1f}% |")

print("\n## Peak resident memory of a run (sparse pairs, 64 x 64 windows, 8 x 8 grid)\n")
print("| Image | Samples x lines | Build | Peak RSS |")
print("|---|---|---|---:|")
with open(memory) as f:
    for line in f:
        size, dims, side, kib = line.split()
        print(f"| {size} | {dims} | {side} | {int(kib) / 1024:.1f} MiB |")
