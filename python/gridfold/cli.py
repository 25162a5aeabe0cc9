"""Command line of gridfold (`gridfold`, `python -m gridfold`).

    gridfold run WORKBOOK        run a study workbook, print and write its summary
    gridfold demo [FOLDER]       write the demo study into FOLDER and run it
    gridfold new-workbook PATH   write a blank study workbook
    gridfold engine-path         print the embedded engine's folder (for psse_path)
    gridfold convert ...         bring cases in from other formats (when installed)

Exit status: 0 when every small case fully solved, 1 when some did not (not solved,
partly solved, islanded, or solved with elements the engine refused), 2 on an error,
130 when interrupted (`demo` gives 0 once its study ran: one of its plants is meant not
to solve).
"""
import argparse
import importlib
import os
import sys
import traceback

import gridfold
from gridfold import parallel
from gridfold.study import StudyError

EXIT_SOLVED = 0
EXIT_UNSOLVED = 1
EXIT_ERROR = 2
EXIT_INTERRUPTED = 130

DEFAULT_DEMO_FOLDER = "gridfold-demo"


def _convert_command():
    """The `convert` subcommand's module, or None when this installation has none."""
    try:
        return importlib.import_module("gridfold.cli_convert")
    except ModuleNotFoundError as error:
        if error.name == "gridfold.cli_convert":
            return None
        raise


def build_parser():
    parser = argparse.ArgumentParser(
        prog="gridfold",
        description="Merge small generating-plant cases into main network cases and solve them "
                    "connection by connection.",
        epilog="Exit status: 0 every small case fully solved, 1 some did not (or had elements refused), "
               "2 error, 130 interrupted.")
    parser.add_argument("--version", action="version", version="gridfold " + gridfold.__version__)
    parser.add_argument("--debug", action="store_true", help="show the full traceback of an error")
    # --debug is accepted after the subcommand too; SUPPRESS keeps the subparser from
    # overriding a --debug given before it.
    debug = argparse.ArgumentParser(add_help=False)
    debug.add_argument("--debug", action="store_true", default=argparse.SUPPRESS,
                       help="show the full traceback of an error")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND")

    run = sub.add_parser("run", parents=[debug], help="run a study workbook and summarise it",
                         description="Run a study workbook, then print a summary of every main case and small "
                                     "case and write it as summary.csv beside the workbook.")
    run.add_argument("workbook", metavar="WORKBOOK", help="the study's .xlsx workbook")
    parallel.add_arguments(run)
    _add_study_options(run)
    run.set_defaults(handler=_run)

    demo = sub.add_parser("demo", parents=[debug], help="write the demo study into FOLDER and run it",
                          description="Write a complete demo study (two main cases of the IEEE 118-bus network, "
                                      "five plants) into FOLDER and run it on the embedded engine.")
    demo.add_argument("folder", metavar="FOLDER", nargs="?", default=DEFAULT_DEMO_FOLDER,
                      help=f"folder of the demo study (default: ./{DEFAULT_DEMO_FOLDER})")
    _add_study_options(demo)
    demo.set_defaults(handler=_demo)

    new = sub.add_parser("new-workbook", parents=[debug], help="write a blank study workbook",
                         description="Write a blank study workbook: the control sheet and the three sheet types "
                                     "laid out and explained, the embedded engine's folder filled in.")
    new.add_argument("path", metavar="PATH", help="the workbook to write (.xlsx)")
    new.add_argument("--force", action="store_true", help="replace PATH when it exists")
    new.set_defaults(handler=_new_workbook)

    engine = sub.add_parser("engine-path", help="print the embedded engine's folder for a workbook's psse_path")
    engine.set_defaults(handler=_engine_path)

    convert = _convert_command()
    if convert is not None:
        command = sub.add_parser("convert", parents=[debug], help="bring cases in from other formats")
        convert.add_arguments(command)
        command.set_defaults(handler=lambda args: convert.run(args) or EXIT_SOLVED)
    return parser


def _add_study_options(command):
    """Options beyond the merge run itself, shared by `run` and `demo`."""
    command.add_argument("--keep", choices=("all", "solved", "final"), default="all",
                         help="saved cases kept for each fully solved plant: all (default); solved: the solved "
                              "cases; final: the final solved and dispatched cases only")
    command.add_argument("--no-dispatch-check", dest="dispatch_check", action="store_false",
                         help="skip solving each fully solved plant at full output")


def _run_with_options(workbook, args):
    from gridfold.api import run_study

    return run_study(workbook, keep=args.keep, dispatch_check=args.dispatch_check)


def _load_driver():
    """Load the driver before printing anything: loading it clears a terminal's screen."""
    import gridfold.gridfold_main  # noqa: F401


def _run(args):
    _load_driver()
    if parallel.wanted(args):
        return parallel.run_command(args, EXIT_SOLVED, EXIT_UNSOLVED)
    from gridfold.summary import format_table

    result = _run_with_options(args.workbook, args)
    print()
    print(format_table(result.rows))
    print()
    print("summary written to", result.summary_csv)
    print("run record written to", result.record_path)
    return result.exit_code


def _demo(args):
    _load_driver()
    from gridfold.demo import describe_outputs, write_demo_study
    from gridfold.summary import format_table

    workbook = write_demo_study(args.folder)
    print("demo study written to", os.path.abspath(args.folder))
    result = _run_with_options(workbook, args)
    print()
    print(format_table(result.rows))
    print()
    print(describe_outputs(result))
    # One demo plant is built not to solve: the demo succeeds when the study ran through.
    return EXIT_SOLVED


def _new_workbook(args):
    from gridfold.workbook import write_blank_workbook

    if not args.path.lower().endswith(".xlsx"):
        raise StudyError(f"{args.path}: a workbook's name must end in .xlsx")
    if os.path.exists(args.path) and not args.force:
        raise StudyError(f"{args.path} exists; use --force to replace it")
    folder = os.path.dirname(os.path.abspath(args.path))
    if not os.path.isdir(folder):
        raise StudyError(f"{args.path}: folder {folder} does not exist")
    write_blank_workbook(args.path)
    print("blank workbook written to", os.path.abspath(args.path))
    return EXIT_SOLVED


def _engine_path(args):
    print(gridfold.EMBEDDED_ENGINE_PATH)
    return EXIT_SOLVED


def _one_line(error):
    text = str(error) if isinstance(error, StudyError) else f"{type(error).__name__}: {error}"
    return " ".join(text.splitlines())


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)
    if getattr(args, "handler", None) is None:
        parser.print_help()
        return EXIT_SOLVED
    try:
        return args.handler(args)
    except KeyboardInterrupt as interrupt:
        sys.stdout.flush()
        where = str(interrupt) or "interrupted"
        print(f"gridfold: {where}; temporary copies removed", file=sys.stderr)
        return EXIT_INTERRUPTED
    except Exception as error:  # every failure of a command ends as exit status 2
        sys.stdout.flush()
        if args.debug:
            traceback.print_exc()
        else:
            print(f"gridfold: error: {_one_line(error)}", file=sys.stderr)
        return EXIT_ERROR


if __name__ == "__main__":
    sys.exit(main())
