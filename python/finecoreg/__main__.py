"""Command line: python3 -m finecoreg VERB ...

Each verb is a function that adds its subparser and sets `run` to a callable
taking the parsed arguments and returning the exit status; add new verbs to
VERBS.
"""

import argparse
import os
import sys


def _add_plot(verbs):
    parser = verbs.add_parser("plot", help="draw the QA picture of a saved result or offset field",
                              description="Draw the QA picture (.png or .svg) of a result saved as JSON, "
                                          "or of a dense offset field's GeoTIFF.")
    parser.add_argument("result", help="result file (JSON) written by Result.save, or a dense offset field "
                                       "(.tif) written by offsets or finecoreg-offsets")
    parser.add_argument("output", help="picture to write, .png or .svg")
    parser.add_argument("--size", nargs=2, type=float, default=(12.0, 8.0), metavar=("W", "H"),
                        help="picture size in inches at 100 dpi (default: 12 8)")
    parser.set_defaults(run=_run_plot)


def _run_plot(args):
    from .offsets_plot import offsets_plot
    from .plot import qa_plot
    from .result import Result

    if args.result.lower().endswith((".tif", ".tiff")):  # a dense offset field
        offsets_plot(args.result, args.output, size=tuple(args.size))
    else:
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
    parser.add_argument("--resample", metavar="OUT",
                        help="then resample the slave onto the master grid into OUT, form the interferogram "
                             "and print the mean coherence before (coarse integer shift only) and after")
    _add_coherence_options(parser)
    parser.set_defaults(run=_run_coregister)


def _add_coherence_options(parser):
    parser.add_argument("--looks", nargs=2, type=int, default=(5, 5), metavar=("AZ", "RG"),
                        help="azimuth and range looks of the interferogram (default: 5 5)")
    parser.add_argument("--interferogram", metavar="DIR",
                        help="where the interferogram and coherence go (default: OUT up to its last '.', "
                             "then '_ifg')")
    parser.add_argument("--geotiff", action="store_true", help="write them as GeoTIFF")
    parser.add_argument("--doppler", default="auto", metavar="auto|off|VALUE",
                        help="slave Doppler centroid in cycles per line: from the XML or the data (auto), "
                             "none (off), or this value")
    parser.add_argument("--coherence-plot", metavar="PICTURE",
                        help="draw coherence maps and histograms before and after (.png or .svg) here")


def _doppler_option(text):
    if text in ("auto", "off"):
        return None if text == "auto" else "off"
    try:
        return float(text)
    except ValueError:
        raise ValueError(f"--doppler takes auto, off or a number, not {text!r}") from None


def _check_coherence_options(args):
    """The Doppler choice, after refusing bad options (before anything runs); raises ValueError."""
    if min(args.looks) < 1:
        raise ValueError(f"--looks must be positive, not {args.looks[0]} {args.looks[1]}")
    if args.coherence_plot and os.path.splitext(args.coherence_plot)[1].lower() not in (".png", ".svg"):
        raise ValueError(f"cannot tell the picture format of {args.coherence_plot!r}: use .png or .svg")
    return _doppler_option(args.doppler)


def _interferogram_dir(args):
    if args.interferogram:
        return args.interferogram
    dot = args.resample.rfind(".")
    return (args.resample[:dot] if dot > args.resample.rfind(os.sep) else args.resample) + "_ifg"


def _check_chain_outputs(args, master, slave, off):
    """Refuses, before anything runs, every file of the chain that is one of its inputs (Error)."""
    from .files import check_outputs
    from .resample import resample_inputs, resample_outputs

    names = ("interferogram.tif", "coherence.tif") if args.geotiff else (
        "interferogram", "interferogram.xml", "interferogram.vrt", "coherence", "coherence.xml", "coherence.vrt")
    outputs = resample_outputs(args.resample) + [(os.path.join(_interferogram_dir(args), name), "interferogram "
                                                  "output") for name in names]
    outputs += [(getattr(args, name, None), role) for name, role in (
        ("coherence_plot", "coherence picture"), ("result", "result record"), ("plot", "QA picture"))]
    check_outputs(outputs, resample_inputs(master, slave, off))


def _resample_and_compare(args, master, slave, fitted_off):
    """Resamples, forms the interferogram, prints the coherence before and after; exit status."""
    from .coherence_plot import coherence_plot
    from .error import Error
    from .resample import coarse_coherence, coarse_offset, interferogram, mean_coherence, resample

    doppler = _check_coherence_options(args)
    try:
        _check_chain_outputs(args, master, slave, fitted_off)
        resampled = resample(master, slave, fitted_off, out=args.resample, doppler=doppler, threads=args.threads,
                             field=getattr(args, "field", None))
        print(f"resampled slave: {resampled['output']} ({resampled['format']}; Doppler centroid "
              f"{resampled['doppler_description']}; "
              f"{resampled['masked']} samples masked"
              + (f", {resampled['saturated']} saturated" if resampled["format"] == "SCOMPLEX" else "") + ")")
        formed = interferogram(master, args.resample, tuple(args.looks), out_dir=_interferogram_dir(args),
                               geotiff=args.geotiff)
        coarse = coarse_offset(fitted_off)
        if args.coherence_plot:  # the picture's maps give the figure before as well
            before = coherence_plot(master, slave, fitted_off, args.coherence_plot, resampled=args.resample,
                                    looks=tuple(args.looks))["mean_before"]
        else:
            before = mean_coherence(coarse_coherence(master, slave, coarse, tuple(args.looks)))
    except Error as error:
        raise ValueError(str(error)) from error
    looks = "{} x {} looks".format(*formed["looks"])
    print(f"interferogram: {formed['interferogram']}")
    print(f"coherence: {formed['coherence']}")
    if args.coherence_plot:
        print(f"coherence picture: {args.coherence_plot}")
    print(f"mean coherence before: {before:.4f} (coarse integer shift {coarse[0]}, {coarse[1]} only; {looks})")
    print(f"mean coherence after:  {formed['mean_coherence']:.4f} (median {formed['median_coherence']:.4f}; "
          f"{looks})")
    return 0


def _add_resample(verbs):
    parser = verbs.add_parser("resample", help="resample a co-registered slave and show the coherence",
                              description="Resample the slave onto the master grid through the fitted offset "
                                          "polynomials into OUT, form the interferogram and print the mean "
                                          "coherence before (coarse integer shift only) and after.")
    parser.add_argument("master")
    parser.add_argument("slave")
    parser.add_argument("fitted_off", help="offset parameter file with the fitted polynomials")
    parser.add_argument("resample", metavar="OUT", help="resampled slave SLC to write")
    parser.add_argument("--field", metavar="FIELD.tif",
                        help="an offset field (finecoreg-offsets' GeoTIFF) added to the fitted polynomials")
    parser.add_argument("--threads", type=int,
                        help="threads resampling the lines (default: the cores this process may use)")
    _add_coherence_options(parser)
    parser.set_defaults(run=lambda args: _resample_and_compare(args, args.master, args.slave, args.fitted_off))


def _run_coregister(args):
    from .error import Error
    from .plot import qa_plot
    from .run import coregister

    try:
        if args.resample:
            _check_coherence_options(args)
            _check_chain_outputs(args, args.master, args.slave, args.off)
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
    if args.resample:
        return _resample_and_compare(args, args.master, args.slave, result.paths["fitted_offset_par"])
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
    parser.add_argument("--resample", action="store_true",
                        help="also resample each slave onto the master grid in its pair directory, with the "
                             "interferogram and the mean coherence before (coarse shift only) and after")
    parser.add_argument("--looks", nargs=2, type=int, default=(5, 5), metavar=("AZ", "RG"),
                        help="azimuth and range looks of the interferogram (default: 5 5)")
    parser.add_argument("--dense", action="store_true",
                        help="also track each pair's dense offset field (offsets.tif, offsets.png in its "
                             "directory), its windows placed by the pair's fit")
    parser.add_argument("--dense-window", nargs=2, type=int, default=(64, 64), metavar=("W", "H"),
                        help="windows of the dense field (default: 64 64)")
    parser.add_argument("--dense-step", nargs=2, type=int, default=(16, 16), metavar=("SR", "SA"),
                        help="grid step of the dense field (default: 16 16)")
    parser.set_defaults(run=_run_stack)


def _run_stack(args):
    from .stack import stack

    outcome = stack(args.master, args.slaves, args.out_dir, off=args.off, coarse=args.coarse,
                    window=tuple(args.window), grid=tuple(args.grid), snr_threshold=args.snr_threshold,
                    scheduler=args.scheduler, workers=args.workers, max_worker_deaths=args.max_worker_deaths,
                    threads_per_pair=args.threads_per_pair, resample=args.resample,
                    looks=tuple(args.looks), dense=args.dense, dense_window=tuple(args.dense_window),
                    dense_step=tuple(args.dense_step))
    print(f"{len(outcome.pairs) - len(outcome.failed)} of {len(outcome.pairs)} pairs co-registered")
    for pair in outcome.failed:
        print(f"failed: {pair.name}: {pair.error}")
    print(f"summary: {outcome.summary}")
    print(f"overview: {outcome.overview}")
    return 1 if outcome.failed else 0


def _add_offsets(verbs):
    parser = verbs.add_parser("offsets", help="dense offset field of a pair",
                              description="Measure the slave's offset against the master on a grid of windows "
                                          "and write it as a GeoTIFF, as finecoreg-offsets does.")
    parser.add_argument("master")
    parser.add_argument("slave")
    parser.add_argument("out", help="GeoTIFF to write")
    parser.add_argument("--window", nargs=2, type=int, default=(64, 64), metavar=("W", "H"))
    parser.add_argument("--step", nargs=2, type=int, default=(16, 16), metavar=("SR", "SA"))
    parser.add_argument("--margin", type=int, default=0)
    parser.add_argument("--gross", metavar="R,A|FILE.off|RASTER.tif",
                        help="gross offset: a constant, an offset parameter file or an offset raster")
    parser.add_argument("--coarse-pass", action="store_true")
    parser.add_argument("--snr-min", type=float, default=5.0)
    parser.add_argument("--outlier-radius", type=int, default=2)
    parser.add_argument("--outlier-threshold", type=float, default=4.0)
    parser.add_argument("--fill", action="store_true")
    parser.add_argument("--threads", type=int, help="threads (default: the cores this process may use)")
    parser.add_argument("--plot", metavar="PICTURE", help="draw the field's QA picture (.png or .svg) here")
    parser.set_defaults(run=_run_offsets)


def _gross_option(text):
    if text is None:
        return None
    parts = text.split(",")
    if len(parts) == 2:
        try:
            return float(parts[0]), float(parts[1])
        except ValueError:
            pass
    return text


def _check_offsets_outputs(args):
    """Refuses, before anything runs, a picture that cannot be told or would overwrite an input or the field."""
    from .files import check_outputs
    from .resample import resample_inputs

    if args.plot is None:
        return
    if os.path.splitext(args.plot)[1].lower() not in (".png", ".svg"):
        raise ValueError(f"cannot tell the picture format of {args.plot!r}: use .png or .svg")
    gross = _gross_option(args.gross)
    check_outputs([(args.plot, "offsets picture"), (args.out, "offset field")],
                  resample_inputs(args.master, args.slave, None)
                  + [(gross if isinstance(gross, str) else None, "gross offset")])


def _run_offsets(args):
    from .offsets import dense_offsets
    from .offsets_plot import offsets_plot

    _check_offsets_outputs(args)
    field = dense_offsets(args.master, args.slave, gross=_gross_option(args.gross), window=tuple(args.window),
                          step=tuple(args.step), threads=args.threads, out=args.out, margin=args.margin,
                          coarse_pass=args.coarse_pass, snr_min=args.snr_min, outlier_radius=args.outlier_radius,
                          outlier_threshold=args.outlier_threshold, fill=args.fill)
    counts = field.counts()
    print(f"offset field: {field.output} ({field.mask.shape[1]} x {field.mask.shape[0]} windows)")
    print("windows: " + ", ".join(f"{n} {name}" for name, n in counts.items()))
    print("median sigma: {:.4f} samples, {:.4f} lines".format(*field.median_sigma()))
    if args.plot:
        offsets_plot(field, args.plot)
        print(f"offsets picture: {args.plot}")
    return 0




def _add_selftest(verbs):
    parser = verbs.add_parser("selftest", help="check this installation on a small simulated pair",
                              description="Simulate a small pair with a known offset, co-register and resample "
                                          "it, check the fit against the truth and the coherence; one line, "
                                          "exit status 0 when passed.")
    parser.set_defaults(run=_run_selftest)


def _run_selftest(args):
    from .error import Error
    from .selftest import run

    try:
        passed, line = run()
    except (Error, OSError, ValueError) as error:
        passed, line = False, f"finecoreg selftest: FAILED ({error})"
    print(line)
    return 0 if passed else 1


VERBS = [_add_coregister, _add_offsets, _add_plot, _add_resample, _add_selftest, _add_stack]


def main(argv=None):
    """Run the command line with argv (default: sys.argv[1:]); returns the exit status."""
    from . import __version__

    parser = argparse.ArgumentParser(prog="python3 -m finecoreg")
    parser.add_argument("--version", action="version", version=f"finecoreg {__version__}")
    verbs = parser.add_subparsers(dest="verb", required=True, metavar="VERB")
    for add_verb in VERBS:
        add_verb(verbs)
    args = parser.parse_args(argv)
    from .error import Error

    try:
        return args.run(args)
    except (OSError, ValueError, Error) as error:
        print(f"{parser.prog} {args.verb}: error: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt as interrupt:  # one line, no traceback; the shell's status for SIGINT
        print(str(interrupt) or "interrupted", file=sys.stderr)
        return 130


def stack_command():
    """The finecoreg-stack command: the stack verb on its own."""
    sys.exit(main(["stack"] + sys.argv[1:]))


if __name__ == "__main__":
    sys.exit(main())
