"""Command line of gridfold (`gridfold`, `python -m gridfold`)."""
import argparse
import sys

import gridfold


def main(argv=None):
    parser = argparse.ArgumentParser(prog="gridfold", description=__doc__)
    parser.add_argument("--version", action="version", version="gridfold " + gridfold.__version__)
    sub = parser.add_subparsers(dest="command")
    sub.add_parser("engine-path", help="print the embedded engine's folder for a workbook's psse_path")
    args = parser.parse_args(argv)
    if args.command == "engine-path":
        print(gridfold.EMBEDDED_ENGINE_PATH)
        return 0
    parser.print_help()
    return 0


if __name__ == "__main__":
    sys.exit(main())
