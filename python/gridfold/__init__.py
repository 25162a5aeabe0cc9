"""gridfold: merge small generating-plant cases into main network cases and solve them.

The four modules are C++ extension modules:
    gridfold.gridfold_main  run_integration, the whole run
    gridfold.gridfold_rc    ReadConfigFile, the configuration workbook
    gridfold.gridfold_ps    PSSE_ENGINE, the door to the power-flow engine
    gridfold.gridfold_misc  network utilities
"""
import os as _os

# The package's one version: the build reads it from here.
__version__ = "0.1.0"

#: Folder holding the embedded engine's psspy, caspy and version packages. Put it in a
#: workbook's "psse_path" to run on the embedded engine. It is deliberately not on sys.path.
EMBEDDED_ENGINE_PATH = _os.path.join(_os.path.dirname(_os.path.abspath(__file__)), "embedded_engine")


def embedded_engine():
    """The embedded engine's API modules, as the pair (psspy, caspy).

    Modules already imported under those names are returned as they are. The engine's folder
    is on sys.path only while the modules are imported, so that a real engine named by a
    workbook is never shadowed by the embedded one.
    """
    import importlib
    import sys

    missing = [name for name in ("psspy", "caspy") if name not in sys.modules]
    if missing:
        sys.path.insert(0, EMBEDDED_ENGINE_PATH)
        try:
            for name in missing:
                importlib.import_module(name)
        finally:
            sys.path.remove(EMBEDDED_ENGINE_PATH)
    return sys.modules["psspy"], sys.modules["caspy"]


def run_study(workbook, keep="all", dispatch_check=True, progress=None):
    """Run a study workbook; returns a `gridfold.api.Study` (summary DataFrame, run record,
    report paths). See `gridfold.api.run_study` for the options."""
    from gridfold.api import run_study as run

    return run(workbook, keep=keep, dispatch_check=dispatch_check, progress=progress)
