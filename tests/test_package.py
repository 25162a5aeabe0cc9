"""The package installs whole: the four driver modules and the embedded engine load."""
import importlib
import os
import subprocess
import sys

import pytest

import gridfold


@pytest.mark.parametrize("name", ["gridfold_main", "gridfold_rc", "gridfold_ps", "gridfold_misc"])
def test_driver_modules_are_extension_modules(name):
    module = importlib.import_module("gridfold." + name)
    assert module.__file__.endswith((".so", ".pyd")), module.__file__


def test_embedded_engine_folder_holds_the_api_and_version_packages():
    folder = gridfold.EMBEDDED_ENGINE_PATH
    names = os.listdir(folder)
    for package in ("psse34", "psse3505", "psse3601", "psse3602"):
        assert os.path.isfile(os.path.join(folder, package, "__init__.py"))
    for module in ("psspy", "caspy"):
        assert any(n.startswith(module + ".") and n.endswith((".so", ".pyd")) for n in names), names


def test_embedded_engine_is_not_on_the_module_path():
    """A real engine named by a workbook must never be shadowed by the embedded one."""
    code = "import gridfold, gridfold.gridfold_main, sys; import psspy"
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode != 0 and "No module named 'psspy'" in result.stderr


def test_loading_the_modules_prints_nothing_when_output_is_not_a_terminal():
    code = "import gridfold.gridfold_main, gridfold.gridfold_ps"
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "" and result.stderr == ""


def test_the_driver_module_offers_the_names_it_runs_with():
    """A caller of the driver imports the engine adapter, the workbook reader and the network
    functions the driver uses from it, and gets the very same objects."""
    from gridfold import gridfold_main, gridfold_misc, gridfold_ps, gridfold_rc
    assert gridfold_main.PSSE_ENGINE is gridfold_ps.PSSE_ENGINE
    assert gridfold_main.ReadConfigFile is gridfold_rc.ReadConfigFile
    for name in ("exclude_connecting_bus", "remove_internal_psse_buses", "renumber_buses", "write_status_report",
                 "find_buses", "organize_connections", "enforce_topological_order", "solve_the_network",
                 "copy_and_rename"):
        assert getattr(gridfold_main, name) is getattr(gridfold_misc, name), name
