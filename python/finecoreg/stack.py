"""Stacks of pairs: one master, many slaves, one Dask task per pair.

By default the pairs run on a local cluster of worker processes, one per
core, each with one thread: the compiled module runs one pair at a time per
process. Any Dask cluster does instead when a client or scheduler address is
given. Pairs finished earlier (see `completed_record`) are not run again.
"""

import dataclasses
import fcntl
import glob
import os
import shutil
import sys
import time
import uuid

from .result import Result
from .error import Error
from .stack_pair import (FITTED_FILE, QA_FILE, RESULT_FILE, STAGING, PairTask, completed_record,
                         failure_record, publish, run_pair)
from .stack_report import write_overview, write_summary

_DEFAULT = object()
_GLOB_CHARACTERS = "*?["
LOCK_FILE = ".lock"


class StackInterrupted(KeyboardInterrupt):
    """Ctrl-C (SIGINT) during a stack; done counts the pairs that are complete and stay."""

    def __init__(self, done):
        super().__init__(f"interrupted; {done} pairs done, rerun to resume")
        self.done = done


def _lock_output(outdir):
    """Holds an exclusive lock on OUTDIR/.lock for the stack's lifetime.

    The OS releases it when the process ends, however it ends, so a dead
    run's lock never blocks; a live one makes a second stack refuse at once
    instead of both deleting each other's staging.
    """
    path = os.path.join(outdir, LOCK_FILE)
    lock = open(path, "a")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        lock.close()
        raise Error(f"another stack is running on {outdir} (it holds {path}); wait for it to end "
                    f"or choose another output directory") from None
    return lock


@dataclasses.dataclass(frozen=True)
class PairRecord:
    """How one pair of a stack ended.

    status is "ok" or "failed"; error holds the failure's message; seconds
    the time the pair took on its worker; resumed tells a pair finished by an
    earlier run; record is the pair's result.json content.
    """

    name: str
    slave: str
    status: str
    error: str
    seconds: float
    directory: str
    resumed: bool
    record: dict

    @property
    def result(self):
        """The pair's Result, or None when it failed."""
        return Result.from_dict(self.record) if self.status == "ok" else None


@dataclasses.dataclass(frozen=True)
class StackResult:
    """The pairs of a stack in acquisition order, and the stack's summary files."""

    pairs: list
    summary: str
    overview: str

    @property
    def failed(self):
        return [pair for pair in self.pairs if pair.status != "ok"]


def expand_slaves(slaves, master=None):
    """Slave paths in acquisition order: a list as given, glob patterns expanded in sorted order."""
    if isinstance(slaves, (str, bytes, os.PathLike)):
        slaves = [slaves]
    expanded = []
    for slave in map(os.fsdecode, slaves):
        if any(c in slave for c in _GLOB_CHARACTERS):
            matches = sorted(glob.glob(slave))
            if master is not None:  # a pattern may well match the master too
                matches = [m for m in matches if os.path.abspath(m) != os.path.abspath(master)]
            if not matches:
                raise ValueError(f"no slave matches {slave!r}")
            expanded += matches
        else:
            expanded.append(slave)
    if not expanded:
        raise ValueError("no slaves given")
    return expanded


def pair_names(slaves):
    """A directory name per slave: its file name without extension, with parent directories as needed."""
    parts = [os.path.abspath(s).split(os.sep)[1:] for s in slaves]
    for p in parts:
        p[-1] = os.path.splitext(p[-1])[0] or p[-1]
    for depth in range(1, max(map(len, parts)) + 1):
        names = ["_".join(p[-depth:]) for p in parts]
        if len(set(names)) == len(names):
            return names
    raise ValueError("the slaves list holds the same file more than once")


def _checked_options(window, grid, snr_threshold, off, coarse):
    from .run import _pair_of_ints, run_request

    window, grid = _pair_of_ints(window, "window"), _pair_of_ints(grid, "grid")
    run_request(window, grid, snr_threshold)
    if off is None and coarse is None:
        raise ValueError("give an offset parameter file (off) or the coarse offsets (coarse)")
    if off is not None and not os.path.isfile(off):
        raise ValueError(f"no offset parameter file {off}")
    if coarse is not None:
        coarse = _pair_of_ints(coarse, "coarse")
    return window, grid, coarse


def _checked_dense(dense, window, step):
    from .run import _pair_of_ints

    if not isinstance(dense, bool):
        raise TypeError(f"dense must be True or False, not {dense!r}")
    window, step = _pair_of_ints(window, "dense_window"), _pair_of_ints(step, "dense_step")
    if min(window + step) < 1:
        raise ValueError(f"dense_window and dense_step must be positive, not {window} and {step}")
    return window, step


def _checked_looks(resample, looks):
    from .run import _pair_of_ints

    if not isinstance(resample, bool):
        raise TypeError(f"resample must be True or False, not {resample!r}")
    looks = _pair_of_ints(looks, "looks")
    if min(looks) < 1:
        raise ValueError(f"looks must be positive, not {looks}")
    return looks


class StackProgress:
    """Pairs done and failed, and the time left: one line redrawn on a terminal, else a line per pair."""

    def __init__(self, total, stream=None, terminal=None):
        self._stream = stream or sys.stderr
        self._terminal = self._stream.isatty() if terminal is None else terminal
        self._total, self._done, self._failed, self._ran = total, 0, 0, 0
        self._start = time.monotonic()
        if self._terminal:
            self._stream.write(f"0/{total} pairs done, starting")
            self._stream.flush()

    def __call__(self, pair):
        self._done += 1
        self._failed += pair.status != "ok"
        self._ran += not pair.resumed
        elapsed = time.monotonic() - self._start
        to_run = self._total - self._done
        left = elapsed / self._ran * to_run if self._ran else 0.0
        counts = f"{self._done}/{self._total} pairs done, {self._failed} failed, {int(left) // 60}:{int(left) % 60:02d} left"
        if self._terminal:
            self._stream.write(f"\r{counts}\x1b[K")
        else:
            outcome = "done earlier" if pair.resumed else f"{pair.status} in {pair.seconds:.1f} s"
            detail = f": {pair.error}" if pair.error else ""
            self._stream.write(f"pair {pair.name}: {outcome}{detail} ({counts})\n")
        self._stream.flush()

    def close(self):
        if self._terminal:
            self._stream.write("\n")
            self._stream.flush()


def _pair_record(task, record, resumed):
    return PairRecord(name=task.name, slave=task.slave, status=record.get("status", "failed"),
                      error=record.get("error", ""), seconds=float(record.get("seconds", 0.0)),
                      directory=os.path.join(task.outdir, task.name), resumed=resumed, record=record)


def cluster_sizing(workers, threads_per_pair, cores=None):
    """(worker processes, threads per pair) of a local cluster: what is not given is sized so that
    workers x threads per pair fills the cores without exceeding them; by default a process per core."""
    cores = cores or len(os.sched_getaffinity(0))
    for name, value in (("workers", workers), ("threads_per_pair", threads_per_pair)):
        if value is not None and (not isinstance(value, int) or isinstance(value, bool) or value < 1):
            raise ValueError(f"{name} must be a positive integer, not {value!r}")
    if threads_per_pair is not None:
        from . import _core

        problem = _core.thread_count_problem(min(threads_per_pair, 1 << 62))
        if problem is not None:  # every pair would fail on it
            raise ValueError(f"threads_per_pair must be {problem}, not {threads_per_pair}")
    if workers is None:
        workers = max(1, cores // (threads_per_pair or 1))
    if threads_per_pair is None:
        threads_per_pair = max(1, cores // workers)
    return workers, threads_per_pair


def _local_cluster(workers, max_worker_deaths):
    import dask
    from distributed import LocalCluster

    n = workers
    with dask.config.set({"distributed.scheduler.allowed-failures": max_worker_deaths}):
        return LocalCluster(n_workers=n, threads_per_worker=1, processes=True, dashboard_address=None)


def _publish_failure(task, record):
    try:
        publish(task.outdir, task.name, record)
    except OSError:  # the summary still records the failure
        pass


def _run_tasks(client, tasks, on_pair, max_worker_deaths):
    """Keeps as many pairs in flight as the cluster has threads, so that a worker holds only the pair
    it runs: the scheduler counts a worker's death against every task assigned to it."""
    from distributed import KilledWorker, as_completed

    run = uuid.uuid4().hex[:8]
    waiting = list(reversed(tasks))
    in_flight = {}
    completed = as_completed()

    def fill():
        capacity = max(1, sum(client.nthreads().values()))
        while waiting and len(in_flight) < capacity:
            task = waiting.pop()
            future = client.submit(run_pair, task, key=f"finecoreg-pair-{task.name}-{run}", pure=False,
                                   retries=max_worker_deaths)
            in_flight[future] = task
            completed.add(future)

    fill()
    for future in completed:
        task = in_flight.pop(future)
        try:
            record = future.result()
        except KilledWorker as error:
            attempts = error.allowed_failures + 1
            record = failure_record(task.name, f"the worker process died while running this pair "
                                               f"({attempts} attempt{'s' if attempts > 1 else ''})")
            _publish_failure(task, record)
        except Exception as error:  # raised outside the pair's own error handling (not importable, disk full)
            record = failure_record(task.name, f"{type(error).__name__}: {error}")
            _publish_failure(task, record)
        future.release()
        on_pair(_pair_record(task, record, resumed=False))
        fill()


def stack(master, slaves, outdir, off=None, coarse=None, window=(64, 64), grid=(32, 32),
          snr_threshold=7.0, client=None, scheduler=None, workers=None, max_worker_deaths=2,
          progress=_DEFAULT, prepare_inputs=None, threads_per_pair=None,
          resample=False, looks=(5, 5), dense=False, dense_window=(64, 64), dense_step=(16, 16)):
    """Co-register each slave to the master, one Dask task per pair.

    Parameters
    ----------
    master : path
        Raw SLC image with its XML parameter file; only read.
    slaves : path, glob pattern, or list of them
        In acquisition order; patterns expand in sorted order.
    outdir : path
        OUTDIR/<pair>/ gets the pair's offset file (pair.off), the fit
        (pair_new.off), qa.png, finecoreg.log and result.json;
        OUTDIR/summary.csv and OUTDIR/overview.png cover the stack.
    off : path, optional
        Offset parameter file copied for each pair (the coarse offset).
    coarse : (int, int), optional
        Coarse range and azimuth offset: written into each pair's copy of
        `off`, or into a fresh offset file when `off` is not given.
    window, grid, snr_threshold
        As for `coregister`.
    client : distributed.Client, optional
        Run on this client's cluster.
    scheduler : str, optional
        Address of a running Dask scheduler to connect to.
    workers : int, optional
        Worker processes of the local cluster (default: the cores over
        `threads_per_pair`, so one per core when that is not given either).
    threads_per_pair : int, optional
        Threads measuring each pair's grid (default: on the local cluster
        the cores over `workers`, so workers x threads <= cores; 1 on a
        cluster given by client or scheduler).
    max_worker_deaths : int
        On the local cluster, how many times a pair is retried after its
        worker process died; a cluster given by client or scheduler keeps its
        own distributed.scheduler.allowed-failures.
    progress : callable or None
        Called with a PairRecord as each pair ends; by default a
        StackProgress on standard error.
    prepare_inputs : callable, optional
        (master, slave, workdir) -> (master, slave): raw SLC images to run,
        linked or made in workdir; by default `stack_pair.prepare_inputs`.
        Must be importable on the workers.
    resample : bool
        Also resample each slave onto the master grid (OUTDIR/<pair>/
        slave_resampled.slc, with its XML and mask), form the interferogram
        and coherence (OUTDIR/<pair>/interferogram/) and draw coherence.png;
        the mean coherence after co-registration and with the coarse integer
        shift only go to the record, summary.csv and overview.png.
    looks : (int, int)
        Azimuth and range looks of the interferogram.
    dense : bool
        Also track each pair's dense offset field (`dense_offsets`, its
        windows placed by the pair's fit) into OUTDIR/<pair>/offsets.tif and
        draw it (offsets.png); its share of good windows and the median sigma
        and offset of those go to the record, summary.csv and overview.png.
    dense_window, dense_step : (int, int)
        The dense field's windows (width, height) and grid step (range, azimuth).

    Returns
    -------
    StackResult
    """
    window, grid, coarse = _checked_options(window, grid, snr_threshold, off, coarse)
    if client is None and scheduler is None:
        workers, threads_per_pair = cluster_sizing(workers, threads_per_pair)
    else:
        _, threads_per_pair = cluster_sizing(1, threads_per_pair or 1)
    looks = _checked_looks(resample, looks)
    dense_window, dense_step = _checked_dense(dense, dense_window, dense_step)
    slaves = expand_slaves(slaves, master)
    outdir = os.path.abspath(os.fspath(outdir))
    os.makedirs(outdir, exist_ok=True)
    with _lock_output(outdir):
        return _stack_locked(master, slaves, outdir, off, coarse, window, grid, snr_threshold, client,
                             scheduler, workers, threads_per_pair, max_worker_deaths, progress,
                             prepare_inputs, resample, looks, dense, dense_window, dense_step)


def _stack_locked(master, slaves, outdir, off, coarse, window, grid, snr_threshold, client, scheduler,
                  workers, threads_per_pair, max_worker_deaths, progress, prepare_inputs, resample,
                  looks, dense, dense_window, dense_step):
    from distributed import Client

    shutil.rmtree(os.path.join(outdir, STAGING), ignore_errors=True)  # left by an interrupted run
    tasks = [PairTask(name=name, master=os.path.abspath(master), slave=os.path.abspath(slave), outdir=outdir,
                      off_template=None if off is None else os.path.abspath(off), coarse=coarse,
                      window=window, grid=grid, snr_threshold=float(snr_threshold),
                      threads=threads_per_pair, prepare_inputs=prepare_inputs,
                      resample=resample, looks=looks, dense=dense, dense_window=dense_window,
                      dense_step=dense_step)
             for name, slave in zip(pair_names(slaves), slaves)]

    records = {}
    bar = None
    if progress is _DEFAULT:
        progress = bar = StackProgress(len(tasks))

    def on_pair(pair):
        records[pair.name] = pair
        if progress is not None:
            progress(pair)

    to_run = []
    for task in tasks:
        record = completed_record(outdir, task.name, resample, dense)
        if record is None:
            to_run.append(task)
        else:
            on_pair(_pair_record(task, record, resumed=True))
    try:
        if to_run and client is not None:
            _run_tasks(client, to_run, on_pair, max_worker_deaths)
        elif to_run and scheduler is not None:
            with Client(scheduler) as own_client:
                _run_tasks(own_client, to_run, on_pair, max_worker_deaths)
        elif to_run:
            with _local_cluster(workers, max_worker_deaths) as cluster, Client(cluster) as own_client:
                _run_tasks(own_client, to_run, on_pair, max_worker_deaths)
    except KeyboardInterrupt:
        # The workers are gone (or told to stop): what they staged is half-written.
        shutil.rmtree(os.path.join(outdir, STAGING), ignore_errors=True)
        # Counted on disk: a worker may have published a pair whose result never came back.
        raise StackInterrupted(sum(completed_record(outdir, task.name, resample, dense) is not None
                                   for task in tasks)) from None
    finally:
        if bar is not None:
            bar.close()
    shutil.rmtree(os.path.join(outdir, STAGING), ignore_errors=True)
    pairs = [records[task.name] for task in tasks]
    return StackResult(pairs=pairs, summary=write_summary(outdir, pairs),
                       overview=write_overview(outdir, pairs))


__all__ = ["PairRecord", "StackInterrupted", "StackProgress", "StackResult", "cluster_sizing",
           "expand_slaves", "pair_names", "stack",
           "FITTED_FILE", "QA_FILE", "RESULT_FILE"]
