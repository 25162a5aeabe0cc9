"""Engine settings and case lists read from real workbooks (no engine needed)."""
import datetime
import os

import pytest

from gridfold.gridfold_main import _build_case_lists, run_integration
from helpers.workbooks import CASE_LABELS, CONTROL_LABELS, MAIN_LABELS, SOFT_LABELS, study_workbook, write_workbook


def case_lists(tmp_path, **study):
    study.setdefault("psse_path", "C:/PSSE")
    study.setdefault("results_folder", "D:/Results")
    study.setdefault("main_cases", [])
    study.setdefault("small_cases", [])
    name = study_workbook(str(tmp_path), **study)
    return _build_case_lists(str(tmp_path), name)


class TestEnabledTest:
    @pytest.mark.parametrize("enabled, takes_part", [
        (" YeS ", True), ("yes", True), (1, True), (1.0, True), (True, True),
        ("no", False), (0, False), (None, False), ("y", False), (2, False),
    ])
    def test_enabled_values(self, tmp_path, enabled, takes_part):
        _, mains, smalls = case_lists(tmp_path, main_cases=[[enabled, "M", "Base.sav"]],
                                      small_cases=[[enabled, "S", "Wind", 101]])
        assert len(mains) == len(smalls) == (1 if takes_part else 0)

    def test_running_numbers_count_only_rows_that_take_part(self, tmp_path):
        _, mains, smalls = case_lists(
            tmp_path,
            main_cases=[["yes", "C:/Main", "Summer.SAV"], ["no", "C:/Main", "Winter"], ["YES", "C:/Other", "peak"]],
            small_cases=[[1, "C:/Small", "Wind", 101], [None, "C:/Small", "Off", None], ["yes", "C:/Small", "Solar.sav", 102.0]])
        assert list(mains.items()) == [("0", {"filepath": "c:/main", "filename": "summer.sav"}),
                                       ("1", {"filepath": "c:/other", "filename": "peak"})]
        assert list(smalls.items()) == [
            ("0", {"filepath": "c:/small", "filename": "wind", "connecting_bus": 101, "parent_path": "d:/results"}),
            ("1", {"filepath": "c:/small", "filename": "solar.sav", "connecting_bus": 102, "parent_path": "d:/results"})]
        # the empty connecting bus of the disabled row makes the column real-valued in pandas;
        # bus numbers still reach the engine as integers
        assert all(type(entry["connecting_bus"]) is int for entry in smalls.values())


class TestSettings:
    def test_last_row_of_each_description_wins_and_others_are_ignored(self, tmp_path):
        settings, _, _ = case_lists(tmp_path, psse_path="C:/Old", version=34,
                                    extra_soft_rows=[["Other", "x"], ["PSSE_PATH ", "C:/New PSSE"], ["psse_version", 35.5]])
        assert settings == {"psse_path": "c:/new psse", "version": 35.5, "nbus": 50000}

    def test_settings_no_row_supplies_are_absent_and_stop_the_run_by_name(self, tmp_path):
        settings, _, _ = case_lists(tmp_path, psse_path=None, version=None, init=None)
        assert settings == {}
        with pytest.raises(UnboundLocalError, match=r"psse_path.*config\.xlsx"):
            run_integration(str(tmp_path), "config.xlsx")
        study_workbook(str(tmp_path), psse_path="C:/PSSE", version=None, results_folder="r", main_cases=[], small_cases=[])
        with pytest.raises(UnboundLocalError, match=r"version.*psse_version"):
            run_integration(str(tmp_path), "config.xlsx")

    def test_a_workbook_without_main_sheet_gives_empty_lists(self, tmp_path):
        write_workbook(os.path.join(tmp_path, "config.xlsx"), {
            "Control": [CONTROL_LABELS, ["Soft", "SOFT_INPUT", "not applicable", None]],
            "Soft": [SOFT_LABELS, ["psse_path", "x"]]})
        settings, mains, smalls = _build_case_lists(str(tmp_path), None)
        assert settings == {"psse_path": "x"} and len(mains) == 0 and len(smalls) == 0


class TestBadRows:
    def workbook(self, tmp_path, main_rows, case_rows, case_enabled=1, main_labels=MAIN_LABELS):
        write_workbook(os.path.join(tmp_path, "study.xlsx"), {
            "Control": [CONTROL_LABELS, ["Mains", "MAIN_INPUT", "not applicable", None],
                        ["Cases", "CASE_INPUT", case_enabled, "out"]],
            "Mains": [main_labels] + main_rows,
            "Cases": [CASE_LABELS] + case_rows})
        return str(tmp_path), "study.xlsx"

    def test_missing_enabled_column(self, tmp_path):
        args = self.workbook(tmp_path, [["m", "base"]], [], main_labels=MAIN_LABELS[1:])
        with pytest.raises(KeyError, match=r"'enabled'.*study\.xlsx.*Mains row 2"):
            _build_case_lists(*args)

    def test_missing_source_column_matters_only_for_rows_that_take_part(self, tmp_path):
        labels = MAIN_LABELS[:2]
        args = self.workbook(tmp_path, [["no", "m"]], [], main_labels=labels)
        assert len(_build_case_lists(*args)[1]) == 0
        args = self.workbook(tmp_path, [["no", "m"], [None, None], ["yes", "m"]], [], main_labels=labels)
        with pytest.raises(KeyError, match=r"'snapshot filename'.*Mains row 4"):
            _build_case_lists(*args)

    def test_case_sheet_without_results_folder(self, tmp_path):
        args = self.workbook(tmp_path, [], [["yes", "s", "wind", 101]], case_enabled="NOT APPLICABLE")
        with pytest.raises(KeyError, match=r"'parent_path'.*Cases row 2.*sheet run enabled' is 1"):
            _build_case_lists(*args)

    @pytest.mark.parametrize("row, column, error", [
        (["yes", "s", None, 101], "name of case to be added", ValueError),
        (["yes", None, "wind", 101], "filepath of case to be added", ValueError),
        (["yes", "s", datetime.date(2030, 1, 1), 101], "name of case to be added", TypeError),
        (["yes", "s", "wind", "bus a"], "connecting bus number", TypeError),
        (["yes", "s", "wind", 101.5], "connecting bus number", TypeError),
        (["yes", "s", "wind", None], "connecting bus number", TypeError),
    ])
    def test_cells_that_cannot_name_a_file_or_a_bus(self, tmp_path, row, column, error):
        args = self.workbook(tmp_path, [], [["no", None, None, None], row])
        with pytest.raises(error, match=rf"Cases row 3, column '{column}'"):
            _build_case_lists(*args)

    def test_names_kept_as_numbers_are_their_text(self, tmp_path):
        # the disabled row's empty cells make pandas read both columns as reals: 2030.0, 7.0
        args = self.workbook(tmp_path, [], [["no", None, None, None], ["yes", 7, 2030, 101], ["yes", 7.5, "x", 101]])
        small = _build_case_lists(*args)[2]
        assert [(row["filepath"], row["filename"]) for row in small.values()] == [("7", "2030"), ("7.5", "x")]

    @pytest.mark.parametrize("name", ["../escape/wind", "sub/wind.sav", "sub\\wind", ".."])
    def test_a_name_with_a_folder_in_it_is_refused(self, tmp_path, name):
        args = self.workbook(tmp_path, [], [["yes", "s", name, 101]])
        with pytest.raises(ValueError, match=r"without folder separators or '\.\.'.*Cases row 2"):
            _build_case_lists(*args)

    def test_an_enabled_value_neither_yes_nor_no_is_named(self, tmp_path, capsys):
        args = self.workbook(tmp_path, [], [["y", "s", "wind", 101], ["no", "s", "sun", 102], [0, "s", "x", 1]])
        assert len(_build_case_lists(*args)[2]) == 0
        assert capsys.readouterr().out.splitlines() == [
            f"warning: 'enabled' value 'y' is neither yes nor no; the row is left out: workbook "
            f"'{os.path.join(*args)}', Cases row 2, column 'enabled'"]

    def test_bus_number_written_as_text(self, tmp_path):
        args = self.workbook(tmp_path, [], [["yes", "s", "wind", " 101 "]])
        assert _build_case_lists(*args)[2]["0"]["connecting_bus"] == 101
