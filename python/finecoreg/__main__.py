"""Command line: python3 -m finecoreg VERB ...

Each verb is a function that adds its subparser and sets `run` to a callable
taking the parsed arguments and returning the exit status; add new verbs to
VERBS.
"""

import argparse
import sys


def _add_plot(verbs):
    parser = verbs.add_parser("plot", help="draw the QA picture of a saved result",
                              description="Draw the QA picture (.png or .svg) of a result saved as JSON.")
    parser.add_argument("result", help="result file (JSON) written by Result.save")
    parser.add_argument("output", help="picture to write, .png or .svg")
    parser.add_argument("--size", nargs=2, type=float, default=(12.0, 8.0), metavar=("W", "H"),
                        help="picture size in inches at 100 dpi (default: 12 8)")
    parser.set_defaults(run=_run_plot)


def _run_plot(args):
    from .plot import qa_plot
    from .result import Result

    qa_plot(Result.load(args.result), args.output, size=tuple(args.size))
    return 0


def _add_coregister(verbs):
    parser = verbs.add_parser("coregister", help="co-register a pair",
                              description="Co-register a slave SLC to a master SLC, as the "
                                          "finecoreg tool does, and save the result record.")
    parser.add_argument("master")
    parser.add_argument("slave")
    parser.add_argument("off", help="offset parameter file with the coarse offset")
    parser.add_argument("--window", nargs=2, type=int, default=(64, 64), metavar=("W", "H"))
    parser.add_argument("--grid", nargs=2, type=int, default=(32, 32), metavar=("NR", "NA"),
                        help="offset estimates in range and azimuth (default: 32 32)")
    parser.add_argument("--snr-threshold", type=float, default=7.0)
    parser.add_argument("--overwrite", action="store_true")
    parser.add_argument("--log", help="file for the module's diagnostics (default: stdout)")
    parser.add_argument("--result", help="write the result record (JSON) here")
    parser.add_argument("--plot", help="draw the QA picture (.png or .svg) here")
    parser.add_argument("--threads", type=int,
                        help="threads measuring the grid (default: the cores this process may use)")
    parser.set_defaults(run=_run_coregister)


def _run_coregister(args):
    from .plot import qa_plot
    from .run import Error, coregister

    try:
        result = coregister(args.master, args.slave, args.off, window=tuple(args.window),
                            grid=tuple(args.grid), snr_threshold=args.snr_threshold,
                            overwrite=args.overwrite, log=args.log, threads=args.threads)
    except Error as error:
        raise ValueError(str(error)) from error
    if args.result:
        result.save(args.result)
    if args.plot:
        qa_plot(result, args.plot)
    print(f"fitted offset parameters: {result.paths['fitted_offset_par']}")
    print(f"kept {result.kept_count} of {result.samples} estimates; std. dev. range "
          f"{result.range_std:.4f} samples, azimuth {result.azimuth_std:.4f} lines")
    for name, path in (("result record", args.result), ("QA picture", args.plot)):
        if path:
            print(f"{name}: {path}")
    return 0


def _add_stack(verbs):
    parser = verbs.add_parser("stack", help="co-register many slaves to one master on Dask",
                              description="Co-register each slave to the master, one Dask task per pair, "
                                          "into OUTDIR/<pair>/, with OUTDIR/summary.csv and OUTDIR/overview.png. "
                                          "Pairs finished by an earlier run are skipped.")
    parser.add_argument("master", help="master SLC (only read)")
    parser.add_argument("slaves", nargs="+", metavar="SLAVE",
                        help="slave SLCs in acquisition order, or quoted glob patterns (sorted)")
    parser.add_argument("-o", "--out-dir", required=True, help="output directory")
    parser.add_argument("--off", help="offset parameter file copied for each pair")
    parser.add_argument("--coarse", nargs=2, type=int, metavar=("RANGE", "AZIMUTH"),
                        help="coarse offset of every pair (into each copy of --off, or a fresh offset file)")
    parser.add_argument("--window", nargs=2, type=int, default=(64, 64), metavar=("W", "H"))
    parser.add_argument("--grid", nargs=2, type=int, default=(32, 32), metavar=("NR", "NA"),
                        help="offset estimates in range and azimuth (default: 32 32)")
    parser.add_argument("--snr-threshold", type=float, default=7.0)
    parser.add_argument("--scheduler", metavar="ADDRESS", help="run on this Dask scheduler instead of a local cluster")
    parser.add_argument("--workers", type=int,
                        help="local worker processes (default: cores / --threads-per-pair)")
    parser.add_argument("--threads-per-pair", type=int,
                        help="threads measuring each pair (default: cores / --workers on the local "
                             "cluster, 1 on a given scheduler)")
    parser.add_argument("--max-worker-deaths", type=int, default=2,
                        help="local cluster: retries of a pair whose worker process died (default: 2)")
    parser.set_defaults(run=_run_stack)


def _run_stack(args):
    from .stack import stack

    outcome = stack(args.master, args.slaves, args.out_dir, off=args.off, coarse=args.coarse,
                    window=tuple(args.window), grid=tuple(args.grid), snr_threshold=args.snr_threshold,
                    scheduler=args.scheduler, workers=args.workers, max_worker_deaths=args.max_worker_deaths,
                    threads_per_pair=args.threads_per_pair)
    print(f"{len(outcome.pairs) - len(outcome.failed)} of {len(outcome.pairs)} pairs co-registered")
    for pair in outcome.failed:
        print(f"failed: {pair.name}: {pair.error}")
    print(f"summary: {outcome.summary}")
    print(f"overview: {outcome.overview}")
    return 1 if outcome.failed else 0


VERBS = [_add_coregister, _add_plot, _add_stack]


def main(argv=None):
    """Run the command line with argv (default: sys.argv[1:]); returns the exit status."""
    parser = argparse.ArgumentParser(prog="python3 -m finecoreg")
    verbs = parser.add_subparsers(dest="verb", required=True, metavar="VERB")
    for add_verb in VERBS:
        add_verb(verbs)
    args = parser.parse_args(argv)
    from .run import Error

    try:
        return args.run(args)
    except (OSError, ValueError, Error) as error:
        print(f"{parser.prog} {args.verb}: error: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt as interrupt:  # one line, no traceback; the shell's status for SIGINT
        print(str(interrupt) or "interrupted", file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main())
