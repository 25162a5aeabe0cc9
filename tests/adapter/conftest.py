"""Fixtures of the engine adapter's tests.

`recording` gives engines built on the recording stand-in (the folder recording_engine,
used as psse_path). The stand-in's modules carry the engine's module names, so the fixture
isolates sys.modules and sys.path: it removes any psspy, caspy, version package and the
stand-in's log before the test (the embedded engine's folder too), and puts everything
back afterwards, so that each test starts with a fresh, empty log.
"""
import pathlib
import sys

import pytest

import gridfold
from gridfold.gridfold_ps import PSSE_ENGINE

RECORDING_ENGINE = pathlib.Path(__file__).parent / "recording_engine"
ENGINE_MODULES = ("psspy", "caspy", "psse34", "psse3505", "psse3601", "psse3602", "recording_log")


class Recording:
    """Builds engines on the stand-in and reaches its log."""

    path = str(RECORDING_ENGINE)

    def engine(self, version, psse_path=None):
        return PSSE_ENGINE(psse_path or self.path, version)

    @property
    def log(self):
        return sys.modules["recording_log"]


@pytest.fixture
def recording():
    saved_modules = {name: sys.modules.pop(name) for name in ENGINE_MODULES if name in sys.modules}
    saved_path = list(sys.path)
    sys.path[:] = [p for p in sys.path if p != gridfold.EMBEDDED_ENGINE_PATH]
    try:
        yield Recording()
    finally:
        for name in ENGINE_MODULES:
            sys.modules.pop(name, None)
        sys.modules.update(saved_modules)
        sys.path[:] = saved_path
