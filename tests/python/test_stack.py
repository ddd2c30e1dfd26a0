"""stack: the tool's fit for every pair on any cluster, failures kept to their pair, retries, resume."""

import csv
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

import pytest

from conftest import simulate_pair
from finecoreg.stack import stack
from finecoreg.stack_pair import completed_record

GRID = (8, 8)
# Different offsets per pair within the same whole-sample bounds, so the simulator draws the same master.
OFFSETS = {"a": ("2.4,0.001", "-1.3"), "b": ("2.45", "-1.4,0,0.0005"), "c": ("2.2,0,0.001", "-1.45")}


@pytest.fixture(scope="module")
def pairs(tmp_path_factory, tools_dir):
    """The simulated pairs, and the fit of each by the finecoreg tool alone."""
    root = tmp_path_factory.mktemp("stack")
    sims = {name: simulate_pair(root / name, range_poly=r, azimuth_poly=a) for name, (r, a) in OFFSETS.items()}
    fitted = {}
    for name, p in sims.items():
        assert p.master.read_bytes() == sims["a"].master.read_bytes() and p.off.read_bytes() == sims["a"].off.read_bytes()
        tool = root / "tool" / name
        shutil.copytree(p.master.parent, tool)
        subprocess.run([str(tools_dir / "finecoreg" / "finecoreg"), "--master", str(tool / "master.slc"),
                        "--slave", str(tool / "slave.slc"), "--off", str(tool / "pair.off"), "--range-samples",
                        str(GRID[0]), "--azimuth-samples", str(GRID[1]), "--quiet"], check=True, capture_output=True)
        fitted[name] = (tool / "pair_new.off").read_bytes()
    return sims, fitted


def slaves_of(sims):
    return [str(p.slave) for p in sims.values()]


def assert_matches_tool(out, fitted, names=OFFSETS):
    for name in names:
        assert (out / f"{name}_slave" / "pair_new.off").read_bytes() == fitted[name], name
        assert completed_record(str(out), f"{name}_slave") is not None


def summary_rows(out):
    with open(out / "summary.csv", newline="") as stream:
        return {row["pair"]: row for row in csv.DictReader(stream)}


def test_local_cluster_fits_as_the_tool_failures_stay_alone_and_rerun_redoes_only_failures(pairs, tmp_path):
    sims, fitted = pairs
    master = sims["a"].master
    bad = tmp_path / "bad"
    bad.mkdir()
    shutil.copy(sims["a"].slave, bad / "short.slc")
    shutil.copy(sims["a"].slave.with_suffix(".xml"), bad / "short.xml")
    os.truncate(bad / "short.slc", 1000)
    shutil.copy(sims["a"].slave, bad / "noxml.slc")
    master_dir_before = sorted(os.listdir(master.parent))

    out = tmp_path / "out"
    slaves = slaves_of(sims) + [str(bad / "short.slc"), str(bad / "noxml.slc")]
    first = stack(master, slaves, out, off=sims["a"].off, grid=GRID, workers=2,
                  threads_per_pair=2, progress=None)
    assert [p.name for p in first.pairs] == ["a_slave", "b_slave", "c_slave", "bad_short", "bad_noxml"]
    assert [p.status for p in first.pairs] == ["ok"] * 3 + ["failed"] * 2
    assert_matches_tool(out, fitted)
    assert sorted(os.listdir(master.parent)) == master_dir_before  # the master's directory is only read
    rows = summary_rows(out)
    assert rows["bad_short"]["error"] == "Invalid image size in xml parameter file !"
    assert "noxml.xml" in rows["bad_noxml"]["error"] and "noxml.slc: cannot open" in rows["bad_noxml"]["error"]
    result = first.pairs[1].result
    assert [float(rows["b_slave"][f"range_c{k}"]) for k in range(6)] == result.range_polynomial.tolist()
    assert int(rows["b_slave"]["kept"]) == result.kept_count
    assert (out / "overview.png").stat().st_size > 0 and not (out / ".staging").exists()

    shutil.copy(sims["a"].slave, bad / "short.slc")  # repaired
    done_before = {n: os.stat(out / n / "result.json").st_mtime_ns for n in ("a_slave", "b_slave", "c_slave")}
    second = stack(master, slaves, out, off=sims["a"].off, grid=GRID, workers=2,
                  threads_per_pair=2, progress=None)
    assert [p.resumed for p in second.pairs] == [True] * 3 + [False] * 2
    assert [p.status for p in second.pairs] == ["ok"] * 4 + ["failed"]
    assert {n: os.stat(out / n / "result.json").st_mtime_ns for n in done_before} == done_before
    assert (out / "bad_short" / "pair_new.off").read_bytes() == fitted["a"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_existing_scheduler_with_two_workers_fits_as_the_tool(pairs, tmp_path, python_dir):
    sims, fitted = pairs
    env = dict(os.environ, PYTHONPATH=python_dir)
    port = free_port()
    address = f"tcp://127.0.0.1:{port}"
    dask = ["/usr/bin/dask"]
    processes = [subprocess.Popen(dask + ["scheduler", "--host", "127.0.0.1", "--port", str(port), "--no-dashboard"],
                                  env=env, stderr=subprocess.DEVNULL)]
    try:
        processes += [subprocess.Popen(dask + ["worker", address, "--nthreads", "1", "--nworkers", "1",
                                               "--host", "127.0.0.1", "--no-dashboard"],
                                       env=env, stderr=subprocess.DEVNULL) for _ in range(2)]
        from distributed import Client
        with Client(address, timeout=60) as client:
            client.wait_for_workers(2, timeout=60)
        out = tmp_path / "out"
        run = subprocess.run([sys.executable, "-m", "finecoreg", "stack", str(sims["a"].master), *slaves_of(sims),
                              "-o", str(out), "--coarse", "2", "-1", "--grid", *map(str, GRID),
                              "--scheduler", address], env=env, capture_output=True, text=True, timeout=300)
        assert run.returncode == 0, run.stderr
        assert "3 of 3 pairs co-registered" in run.stdout
        assert_matches_tool(out, fitted)
    finally:
        for process in reversed(processes):
            process.terminate()
            process.wait(timeout=60)


def test_a_worker_dying_mid_pair_is_retried_and_after_too_many_deaths_the_pair_fails(pairs, tmp_path, monkeypatch):
    sims, fitted = pairs
    out = tmp_path / "out"
    monkeypatch.setenv("FINECOREG_STACK_TEST_KILL", "b_slave")
    run = lambda deaths: stack(sims["a"].master, slaves_of(sims), out, off=sims["a"].off, grid=GRID, workers=1,
                               max_worker_deaths=deaths, progress=None)
    first = run(0)
    assert [p.status for p in first.pairs] == ["ok", "failed", "ok"]
    assert "worker process died" in first.pairs[1].error
    assert completed_record(str(out), "b_slave") is None

    (out / ".killed-b_slave").unlink()  # the first attempt dies again
    second = run(2)
    assert [p.status for p in second.pairs] == ["ok"] * 3 and (out / ".killed-b_slave").exists()
    assert_matches_tool(out, fitted)


@pytest.mark.parametrize("sent", [signal.SIGKILL, signal.SIGINT])
def test_an_interrupted_run_leaves_only_complete_pairs_and_a_rerun_completes(pairs, tmp_path, python_dir, sent):
    sims, fitted = pairs
    out = tmp_path / "out"
    command = [sys.executable, "-m", "finecoreg", "stack", str(sims["a"].master), *slaves_of(sims), "-o", str(out),
               "--off", str(sims["a"].off), "--grid", *map(str, GRID), "--workers", "1"]
    env = dict(os.environ, PYTHONPATH=python_dir)
    driver = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 120
    while not (out / "a_slave").exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    driver.send_signal(sent)
    stderr = driver.communicate()[1].decode()
    time.sleep(2)  # the worker process ends when its parent is gone
    final = {"pair.off", "pair_new.off", "qa.png", "result.json", "finecoreg.log"}
    seen = [name for name in os.listdir(out) if not name.startswith(".")]
    assert "a_slave" in seen and "summary.csv" not in seen
    for name in seen:
        assert completed_record(str(out), name) is not None or not final & set(os.listdir(out / name)), name
    if sent == signal.SIGINT:  # Ctrl-C: the staged halves go, and the count is what is on disk
        done = sum(completed_record(str(out), name) is not None for name in seen)
        assert stderr.splitlines()[-1] == f"interrupted; {done} pairs done, rerun to resume"
        assert not (out / ".staging").exists()
        assert not [f for _, _, files in os.walk(out) for f in files if ".tmp." in f]
    assert subprocess.run(command, env=env, capture_output=True, timeout=300).returncode == 0
    assert_matches_tool(out, fitted)


@pytest.mark.parametrize("workers, threads, sized", [
    (None, None, (8, 1)), (None, 4, (2, 4)), (2, None, (2, 4)), (3, None, (3, 2)),
    (None, 16, (1, 16)), (16, None, (16, 1)), (3, 5, (3, 5))])
def test_local_cluster_fills_the_cores_with_workers_times_threads(workers, threads, sized):
    from finecoreg.stack import cluster_sizing
    assert cluster_sizing(workers, threads, cores=8) == sized
    with pytest.raises(ValueError):
        cluster_sizing(workers, 0, cores=8)
    with pytest.raises(ValueError, match="threads_per_pair must be from 1 to 1024"):
        cluster_sizing(workers, 100000, cores=8)


def test_resample_puts_each_resampled_slave_in_its_pair_and_coherence_in_the_summary(pairs, tmp_path):
    sims, fitted = pairs
    out = tmp_path / "out"
    slaves = slaves_of(sims)[:2]
    plain = stack(sims["a"].master, slaves, out, off=sims["a"].off, grid=GRID, workers=2, progress=None)
    assert all(row["coherence_after"] == "" for row in summary_rows(out).values())
    done = stack(sims["a"].master, slaves, out, off=sims["a"].off, grid=GRID, workers=2, progress=None,
                 resample=True, looks=(4, 4))
    assert [p.status for p in plain.pairs + done.pairs] == ["ok"] * 4
    assert [p.resumed for p in done.pairs] == [False, False]  # done before, but without the resampled slave
    assert_matches_tool(out, fitted, names=("a", "b"))
    for name, row in summary_rows(out).items():
        assert float(row["coherence_after"]) > float(row["coherence_before"]) + 0.05, name
        assert {"slave_resampled.slc", "slave_resampled.xml", "coherence.png", "interferogram"} <= set(
            os.listdir(out / name))
    assert (out / "overview.png").stat().st_size > 0


def test_overview_dates_the_pairs_only_when_every_slave_xml_gives_its_start(tmp_path, tools_dir):
    import datetime
    import types

    from finecoreg.stack_report import acquisition_times

    def simulated_slave(name, *start):
        run = subprocess.run([tools_dir / "slcsim" / "slcsim", "--out-dir", tmp_path / name, "--width", "64",
                              "--lines", "64", *start], capture_output=True, text=True)
        return run, types.SimpleNamespace(slave=str(tmp_path / name / "slave.slc"))

    slaves = [simulated_slave("z", "--slave-start", "2021-03-25T06:43:21+01:00")[1],
              simulated_slave("plain", "--slave-start=2021-01-11T05:43:21.5")[1], simulated_slave("none")[1]]
    assert acquisition_times(slaves[:2]) == [datetime.datetime(2021, 3, 25, 5, 43, 21),
                                             datetime.datetime(2021, 1, 11, 5, 43, 21, 500000)]
    assert acquisition_times(slaves) is None
    refused, _ = simulated_slave("bad", "--slave-start", "25/03/2021")
    assert refused.returncode == 2 and "--slave-start" in refused.stderr and not (tmp_path / "bad").exists()
