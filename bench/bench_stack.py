"""Stack throughput: pairs per second of `finecoreg.stack` with 1 and with 2 local worker processes.

    bench/bench_stack.py --build build [--pairs 8] [--size 1024] [--workers 1 2]

Simulates one master and PAIRS slaves (kept in build-bench-data/stack and
reused), runs the stack once per worker count into a fresh output directory
on a cluster started beforehand (its start-up is timed apart), and replaces
the "Stack throughput" section of bench/results.md.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
SECTION = "## Stack throughput"


def simulate(slcsim, data, pairs, size):
    """Pair i: range 2.1 + 0.04 i + 2e-4 x, azimuth -1.15 - 0.04 i - 2e-4 y; every offset stays within
    the same whole samples, so each simulation draws the same master."""
    slaves = []
    for i in range(pairs):
        out = data / f"{size}" / f"slave{i:02d}"
        slaves.append(out / "slave.slc")
        if slaves[-1].exists():
            continue
        subprocess.run([str(slcsim), "--out-dir", str(out), "--width", str(size), "--lines", str(size),
                        "--range-poly", f"{2.1 + 0.04 * i},2e-4", "--azimuth-poly", f"{-1.15 - 0.04 * i},0,-2e-4",
                        "--coherence", "0.8", "--seed", "1", "--coarse-range", "2", "--coarse-azimuth", "-1"],
                       check=True, stdout=subprocess.DEVNULL)
    master = slaves[0].parent / "master.slc"
    for slave in slaves[1:]:
        if (slave.parent / "master.slc").read_bytes() != master.read_bytes():
            raise SystemExit(f"{slave.parent}: the simulator drew another master")
    return master, slaves


def run(finecoreg, master, slaves, outdir, workers, grid):
    from distributed import Client

    from finecoreg.stack import _local_cluster

    shutil.rmtree(outdir, ignore_errors=True)
    start = time.perf_counter()
    with _local_cluster(workers, 2) as cluster, Client(cluster) as client:
        started = time.perf_counter()
        outcome = finecoreg.stack.stack(master, slaves, outdir, off=master.parent / "pair.off", grid=grid,
                                        client=client, progress=None)
        seconds = time.perf_counter() - started
    if outcome.failed:
        raise SystemExit(f"pairs failed: {[(p.name, p.error) for p in outcome.failed]}")
    per_pair = sum(p.seconds for p in outcome.pairs) / len(outcome.pairs)
    return {"workers": workers, "startup": started - start, "seconds": seconds,
            "rate": len(slaves) / seconds, "per_pair": per_pair}


def section(rows, pairs, size, grid, commit):
    lines = [SECTION, "",
             f"`finecoreg.stack` on a local cluster (one thread per worker process), {pairs} simulated "
             f"{size} x {size} FCOMPLEX pairs, 64 x 64 windows, {grid[0]} x {grid[1]} grid, commit {commit} "
             f"(bench/bench_stack.py, scripts/bench_stack.sh). Wall time from the first submission to the "
             f"summary files, on a cluster already running; the cluster's start-up apart. "
             f"This machine has {os.cpu_count()} cores, shared with other work (load average "
             f"{os.getloadavg()[0]:.1f} at the end of the runs).", "",
             "| Workers | Stack wall time | Pairs per second | Speed-up | Mean time per pair on a worker "
             "| Cluster start-up |",
             "|---:|---:|---:|---:|---:|---:|"]
    base = rows[0]["rate"]
    for r in rows:
        lines.append(f"| {r['workers']} | {r['seconds']:.2f} s | {r['rate']:.3f} | {r['rate'] / base:.2f}x "
                     f"| {r['per_pair']:.2f} s | {r['startup']:.2f} s |")
    return "\n".join(lines) + "\n"


def replace_section(path, text):
    """Puts text in place of the file's Stack throughput section (up to the next '## '), else at its end."""
    old = path.read_text() if path.exists() else ""
    begin = old.find(SECTION)
    if begin < 0:
        new = old.rstrip("\n") + ("\n\n" if old else "") + text
    else:
        end = old.find("\n## ", begin + len(SECTION))
        new = old[:begin] + text + (old[end:] if end >= 0 else "")
    path.write_text(new)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(ROOT / "build"), help="build directory (python/, tools/)")
    parser.add_argument("--data", default=str(ROOT / "build-bench-data" / "stack"))
    parser.add_argument("--pairs", type=int, default=8)
    parser.add_argument("--size", type=int, default=1024)
    parser.add_argument("--grid", type=int, nargs=2, default=(32, 32))
    parser.add_argument("--workers", type=int, nargs="+", default=(1, 2))
    parser.add_argument("--results", default=str(ROOT / "bench" / "results.md"))
    args = parser.parse_args()
    build = Path(args.build).resolve()
    sys.path.insert(0, str(build / "python"))
    os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [str(build / "python"), os.environ.get("PYTHONPATH")]))
    import finecoreg.stack

    master, slaves = simulate(build / "tools" / "slcsim" / "slcsim", Path(args.data), args.pairs, args.size)
    rows = [run(finecoreg, master, slaves, Path(args.data) / "out", n, tuple(args.grid)) for n in args.workers]
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=ROOT, capture_output=True,
                            text=True).stdout.strip()
    text = section(rows, args.pairs, args.size, args.grid, commit)
    replace_section(Path(args.results), text)
    print(text)


if __name__ == "__main__":
    main()
