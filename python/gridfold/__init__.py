"""gridfold: merge small generating-plant cases into main network cases and solve them.

The four modules are C++ extension modules:
    gridfold.gridfold_main  run_integration, the whole run
    gridfold.gridfold_rc    ReadConfigFile, the configuration workbook
    gridfold.gridfold_ps    PSSE_ENGINE, the door to the power-flow engine
    gridfold.gridfold_misc  network utilities
"""
import os as _os

__version__ = "0.1.0"

#: Folder holding the embedded engine's psspy, caspy and version packages. Put it in a
#: workbook's "psse_path" to run on the embedded engine. It is deliberately not on sys.path.
EMBEDDED_ENGINE_PATH = _os.path.join(_os.path.dirname(_os.path.abspath(__file__)), "embedded_engine")


def run_study(workbook, keep="all", dispatch_check=True, progress=None):
    """Run a study workbook; returns a `gridfold.api.Study` (summary DataFrame, run record,
    report paths). See `gridfold.api.run_study` for the options."""
    from gridfold.api import run_study as run

    return run(workbook, keep=keep, dispatch_check=dispatch_check, progress=progress)
