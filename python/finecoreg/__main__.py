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


VERBS = [_add_plot]


def main(argv=None):
    """Run the command line with argv (default: sys.argv[1:]); returns the exit status."""
    parser = argparse.ArgumentParser(prog="python3 -m finecoreg")
    verbs = parser.add_subparsers(dest="verb", required=True, metavar="VERB")
    for add_verb in VERBS:
        add_verb(verbs)
    args = parser.parse_args(argv)
    try:
        return args.run(args)
    except (OSError, ValueError) as error:
        print(f"{parser.prog} {args.verb}: error: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
