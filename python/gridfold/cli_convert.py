"""`gridfold convert IN OUT`: bring a network case into the embedded engine's format, or out of it.

IN is a RAW file (versions 32 to 35), a MATPOWER case (.m) or a saved case of the embedded
engine (.sav). OUT ending in ".raw" is written as RAW (version 35, or 33 with --raw-version 33);
any other OUT is written as a saved case (".sav" is added when OUT has no extension). The
engine's progress lines and a count of what the written case holds are printed.
"""
import os

import gridfold

#: Exit codes, as for the other subcommands: 0 done, 2 an error (nothing, or nothing whole, written).
EXIT_OK = 0
EXIT_ERROR = 2

_COUNTED_TABLES = (
    ("buses", "pssbus"),
    ("loads", "psslod"),
    ("fixed shunts", "pssfsh"),
    ("machines", "pssgen"),
    ("switched shunts", "psswsh"),
    ("induction machines", "pssind"),
    ("lines", "casbrn"),
    ("transformers", "castrn"),
)


def add_arguments(parser):
    parser.add_argument("input", help="RAW (.raw), MATPOWER (.m) or saved case (.sav) to read")
    parser.add_argument("output", help="case to write: RAW when it ends in .raw, else a saved case")
    parser.add_argument(
        "--raw-version",
        type=int,
        choices=(33, 35),
        default=35,
        help="RAW version of a .raw output (default 35)",
    )


def _engine():
    return gridfold.embedded_engine()


def _table_length(table):
    for key, column in table.items():
        if key != "IERR":
            return len(column)
    return 0


def _count_line(caspy, path):
    """One line counting the elements of the case written at `path`, read back with caspy."""
    case = caspy.Savecase(path)
    counts = []
    for label, attribute in _COUNTED_TABLES:
        table = getattr(case, attribute)
        if attribute == "pssbus":
            # Star points of three-winding transformers are internal buses, not the user's.
            number = sum(1 for bus in table["NUM"] if bus < 1000000)
        else:
            number = _table_length(table)
        counts.append("%d %s" % (number, label))
    return ", ".join(counts)


def run(args):
    psspy, caspy = _engine()
    psspy.psseinit(buses=150000)
    psspy.progress_output(islct=1)
    source = os.fspath(args.input)
    target = os.fspath(args.output)
    if not os.path.isfile(source):
        print("convert: %s does not exist" % source)
        return EXIT_ERROR

    if source.lower().endswith(".sav"):
        ierr = psspy.case(sfile=source)
    else:
        ierr = psspy.read(0, source)
    if ierr != 0:
        print("convert: %s could not be read (error code %d)" % (source, ierr))
        return EXIT_ERROR

    if target.lower().endswith(".raw"):
        ierr = psspy.writerawversion(str(args.raw_version), 0, target)
        written = target
    else:
        ierr = psspy.save(target)
        written = target if os.path.splitext(target)[1] else target + ".sav"
    if ierr != 0:
        print("convert: %s could not be written (error code %d)" % (target, ierr))
        return EXIT_ERROR

    print("convert: %s -> %s: %s" % (source, written, _count_line(caspy, written)))
    return EXIT_OK
