"""Shared fixtures.

The embedded engine's `psspy` is process-wide, like the engine it stands in for: the
`psspy` fixture re-initialises it for every test. Tests that need a recording stand-in
under the same module names run in a subprocess or isolate `sys.modules` themselves.
"""

import pytest

import gridfold


def _embedded(name):
    psspy, caspy = gridfold.embedded_engine()
    return {"psspy": psspy, "caspy": caspy}[name]


@pytest.fixture
def psspy():
    """The embedded engine's psspy, freshly initialised, progress output silenced."""
    module = _embedded("psspy")
    assert module.psseinit(buses=150000) == 0
    module.progress_output(islct=6)
    return module


@pytest.fixture
def caspy():
    """The embedded engine's caspy (reads saved case files)."""
    return _embedded("caspy")
