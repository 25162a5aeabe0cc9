"""Status report files (compared byte for byte) and working copies under free names."""
import os
from collections import OrderedDict

import pytest

from gridfold import gridfold_misc as gm


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def test_report_sections_in_order_with_nested_maps(tmp_path):
    report = tmp_path / "status.txt"
    gm.write_status_report(str(report),
                           Bus_Status={"total_bus": 2, 1001: 0, 1002: 0},
                           Line_Branch_Status=OrderedDict([("total_line_branch", 1), ("1001-1002-1 ", -1)]),
                           Load_Status={"total_lod": 1, "group": {"a": 1, "deeper": {"b": None}}},
                           Fixed_Shunt_Status={})
    assert read_bytes(report) == (
        b"Bus_Status:\n    total_bus: 2\n    1001: 0\n    1002: 0\n\n"
        b"Line_Branch_Status:\n    total_line_branch: 1\n    1001-1002-1 : -1\n\n"
        b"Load_Status:\n    total_lod: 1\n    group:\n        a: 1\n        deeper:\n            b: None\n\n"
        b"Fixed_Shunt_Status:\n\n\n")
    assert [p.name for p in tmp_path.iterdir()] == ["status.txt"]


def test_report_without_sections_is_an_empty_file_replacing_the_old_one(tmp_path):
    report = tmp_path / "status.txt"
    report.write_text("old content")
    gm.write_status_report(report)
    assert read_bytes(report) == b""


def test_bad_section_keeps_the_sections_before_it(tmp_path):
    report = tmp_path / "status.txt"
    with pytest.raises(TypeError, match="section 'Generator_Status' is None, not a dict"):
        gm.write_status_report(str(report), Bus_Status={"total_bus": 0}, Generator_Status=None, Load_Status={})
    assert read_bytes(report) == b"Bus_Status:\n    total_bus: 0\n\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["status.txt"]


def test_report_in_a_missing_folder_raises_the_file_error(tmp_path):
    with pytest.raises(FileNotFoundError):
        gm.write_status_report(str(tmp_path / "nowhere" / "status.txt"), Bus_Status={})


def test_copy_names_skip_existing_copies_and_keep_content_and_mode(tmp_path):
    source = tmp_path / "main.sav"
    source.write_bytes(b"case data\x00\xff")
    os.chmod(source, 0o640)
    first = gm.copy_and_rename(str(source))
    assert first == str(tmp_path / "main_copy.sav")
    (tmp_path / "main_copy_1.sav").write_text("taken")
    second = gm.copy_and_rename(str(source))
    assert second == str(tmp_path / "main_copy_2.sav")
    for copy in (first, second):
        assert read_bytes(copy) == b"case data\x00\xff" and os.stat(copy).st_mode & 0o777 == 0o640
    assert read_bytes(tmp_path / "main_copy_1.sav") == b"taken"
    assert sorted(p.name for p in tmp_path.iterdir()) == [
        "main.sav", "main_copy.sav", "main_copy_1.sav", "main_copy_2.sav"]


def test_copy_without_extension_and_of_a_lower_cased_path(tmp_path):
    (tmp_path / "Cases").mkdir()
    (tmp_path / "Cases" / "README").write_text("x")
    assert gm.copy_and_rename(tmp_path / "Cases" / "README") == str(tmp_path / "Cases" / "README_copy")
    (tmp_path / "Cases" / "Main.sav").write_text("y")
    copy = gm.copy_and_rename(str(tmp_path / "cases" / "main.sav"))
    assert copy == str(tmp_path / "Cases" / "main_copy.sav") and read_bytes(copy) == b"y"


def test_copy_of_a_missing_file_raises_naming_it(tmp_path):
    with pytest.raises(FileNotFoundError, match="absent.sav"):
        gm.copy_and_rename(str(tmp_path / "absent.sav"))
    assert list(tmp_path.iterdir()) == []
