"""The type stubs of psspy and caspy describe the modules as built."""
import ast
import os
import re
import runpy

import gridfold
from helpers.engine_cases import save_wind_case

API = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "powerflow", "api")


def _stub_text(psspy):
    """The stub make_psspy_stub.py writes for this psspy, from the script as it stands."""
    script = runpy.run_path(os.path.join(API, "make_psspy_stub.py"), run_name="make_psspy_stub")
    return script["stub_text"](psspy)


def _installed(name):
    path = os.path.join(gridfold.EMBEDDED_ENGINE_PATH, name)
    with open(path, encoding="utf-8") as stream:
        return stream.read()


def test_the_psspy_stub_is_the_one_its_operations_make(psspy):
    """An operation added or changed without running make_psspy_stub.py shows here."""
    expected = _stub_text(psspy)
    assert _installed("psspy.pyi") == expected
    declared = {node.name: node for node in ast.parse(expected).body if isinstance(node, ast.FunctionDef)}
    assert set(declared) == {name for name in dir(psspy) if callable(getattr(psspy, name)) and not name.startswith("_")}
    # bus_data_4(ibus, inode, intgar[...], realar[...], name): a slot per group, keywords per member.
    bus_data = declared["bus_data_4"].args
    assert [a.arg for a in bus_data.args][:2] == ["ibus", "inode"]
    assert "intgar" in [a.arg for a in bus_data.args] and "intgar1" in [a.arg for a in bus_data.kwonlyargs]


def test_the_caspy_stub_declares_every_table_a_case_file_gives(psspy, caspy, tmp_path):
    path = str(tmp_path / "wind.sav")
    save_wind_case(psspy, path, grid_equivalent=True)
    case = caspy.Savecase(path)
    stub = ast.parse(_installed("caspy.pyi"))
    savecase = next(node for node in stub.body if isinstance(node, ast.ClassDef) and node.name == "Savecase")
    declared = {node.target.id for node in savecase.body if isinstance(node, ast.AnnAssign)}
    # Tables are made when first read: read every declared one, then nothing else may be held,
    # and the class's own description names the same tables.
    for name in declared:
        getattr(case, name)
    assert set(vars(case)) - {"_network"} == declared
    described = set(re.findall(r"\b(?:pss|cas)_?[a-z0-9]{3,}\b", caspy.Savecase.__doc__))
    assert described == declared - {"path"}


def test_the_package_says_it_is_typed():
    assert os.path.isfile(os.path.join(os.path.dirname(gridfold.__file__), "py.typed"))
