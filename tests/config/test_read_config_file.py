"""ReadConfigFile on real workbooks written with openpyxl into a temporary folder."""
import math
import os

import numpy as np
import pandas as pd
import pytest

from gridfold.gridfold_rc import ReadConfigFile
from helpers.workbooks import CONTROL_LABELS, write_workbook


def load(tmp_path, sheets, name="config.xlsx"):
    write_workbook(os.path.join(tmp_path, name), sheets)
    return ReadConfigFile(str(tmp_path), name)


def control(*rows, labels=CONTROL_LABELS):
    return [list(labels)] + [list(row) for row in rows]


MAIN_ROWS = [["Enabled", "Snapshot Filepath", "Snapshot Filename"], ["yes", "C:/Cases", "Base.sav"]]


class TestControlSheet:
    def test_labels_in_any_case_and_with_blanks_make_a_control_sheet(self, tmp_path):
        labels = ["  sheet name", "Sheet Type ", " SHEET run enabled ", "Folder Path To Store Results For Sheet"]
        reader = load(tmp_path, {"Ctl": control(["Main", "MAIN_INPUT", 1, "D:/Out"], labels=labels), "Main": MAIN_ROWS})
        assert list(reader.sheet_dict.items()) == [("main", "main_input")]
        assert reader.dfs["main"]["parent_path"].tolist() == ["d:/out"]

    def test_a_sheet_missing_one_of_the_three_labels_is_not_a_control_sheet(self, tmp_path):
        reader = load(tmp_path, {"Ctl": [["SHEET NAME", "SHEET TYPE", "FOLDER PATH TO STORE RESULTS FOR SHEET"],
                                         ["Main", "MAIN_INPUT", "x"]], "Main": MAIN_ROWS})
        assert len(reader.sheet_dict) == 0
        assert reader.get_main_config_indexed_dict() == {}

    @pytest.mark.parametrize("enabled, registered, has_parent", [
        (1, True, True), (1.0, True, True), (True, True, True),
        ("NOT APPLICABLE", True, False), ("no", True, False), (2, True, False), ("N/A", True, False),
        (0, False, False), (None, False, False), (False, False, False),
    ])
    def test_sheet_run_enabled(self, tmp_path, enabled, registered, has_parent):
        reader = load(tmp_path, {"Ctl": control(["Main", "MAIN_INPUT", enabled, "D:/Out"]), "Main": MAIN_ROWS})
        assert ("main" in reader.sheet_dict) is registered
        assert ("parent_path" in reader.dfs["main"].columns) is has_parent
        rows = reader.get_main_config_indexed_dict()
        assert len(rows) == (1 if registered else 0)
        if registered:
            assert ("parent_path" in rows["0"]) is has_parent

    def test_a_later_row_for_the_same_sheet_replaces_its_type_and_keeps_its_place(self, tmp_path):
        reader = load(tmp_path, {"Ctl": control(["A", "MAIN_INPUT", 1, "x"], ["B", "SOFT_INPUT", "n/a", None],
                                                ["a", "CASE_INPUT", "n/a", None]), "A": MAIN_ROWS, "B": MAIN_ROWS})
        assert list(reader.sheet_dict.items()) == [("a", "case_input"), ("b", "soft_input")]

    def test_sheet_names_match_in_any_case_but_a_sheet_name_with_blanks_never_matches(self, tmp_path):
        reader = load(tmp_path, {"Ctl": control(["  MAIN cases ", "MAIN_INPUT", 1, "out"], ["Padded", "MAIN_INPUT", 1, "out"]),
                                 "Main Cases": MAIN_ROWS, "Padded ": MAIN_ROWS})
        assert "parent_path" in reader.dfs["main cases"].columns
        assert "parent_path" not in reader.dfs["padded "].columns
        assert list(reader.get_main_config_indexed_dict()) == ["0"]

    def test_a_named_sheet_absent_from_the_workbook_is_skipped(self, tmp_path):
        reader = load(tmp_path, {"Ctl": control(["Gone", "MAIN_INPUT", 1, "out"], ["Main", "MAIN_INPUT", 1, "out"]),
                                 "Main": MAIN_ROWS})
        assert list(reader.get_main_config_sheet()) == ["gone", "main"]
        assert list(reader.get_main_config_indexed_dict()) == ["0"]

    def test_a_workbook_without_control_sheet_gives_empty_results(self, tmp_path):
        reader = load(tmp_path, {"Main": MAIN_ROWS})
        assert len(reader.sheet_dict) == 0
        assert (reader.get_soft_config_indexed_dict(), reader.get_main_config_indexed_dict(),
                reader.get_case_config_indexed_dict()) == ({}, {}, {})


class TestTypeSelection:
    SHEETS = ["S1", "S2", "S3", "S4", "S5"]

    def reader(self, tmp_path, types):
        rows = [[name, sheet_type, "n/a", None] for name, sheet_type in zip(self.SHEETS, types)]
        sheets = {"Ctl": control(*rows)}
        for name in self.SHEETS[:len(types)]:
            sheets[name] = [["Enabled", "Sheet"], ["yes", name]]
        return load(tmp_path, sheets)

    def test_single_word_types_match_exactly(self, tmp_path):
        reader = self.reader(tmp_path, ["MAIN_INPUT", " Main_Input ", "MAIN_INPUTS", "case_input", "SOFT_INPUT"])
        assert dict(reader.get_main_config_sheet()) == {"s1": "main_input", "s2": "main_input"}
        assert dict(reader.get_case_config_sheet()) == {"s4": "case_input"}
        assert dict(reader.get_soft_config_sheet()) == {"s5": "soft_input"}

    def test_several_words_match_as_substrings_and_select_each_type(self, tmp_path):
        reader = self.reader(tmp_path, ["MAIN_INPUTS;soft_input", "main_input , case_input", "CASE_INPUT;;"])
        assert dict(reader.get_main_config_sheet()) == {"s1": "main_inputs", "s2": "main_input"}
        assert dict(reader.get_case_config_sheet()) == {"s2": "case_input", "s3": "case_input"}
        assert dict(reader.get_soft_config_sheet()) == {"s1": "soft_input"}
        # a sheet of two types gives its rows to both indexed dictionaries
        assert reader.get_main_config_indexed_dict()["1"]["sheet"] == "s2"
        assert reader.get_case_config_indexed_dict()["0"]["sheet"] == "s2"

    def test_filter_takes_the_search_term_in_any_case(self, tmp_path):
        reader = self.reader(tmp_path, ["MAIN_INPUT"])
        assert reader._filter_sheet_dict("Main_Input") == reader.get_main_config_sheet()


class TestRowsAndCells:
    def test_rows_are_numbered_across_sheets_of_one_type_without_empty_rows(self, tmp_path):
        first = [["Enabled", "Snapshot Filename"], ["yes", "a"], [None, None], ["no", "b"], ["yes", "c"]]
        second = [["ENABLED", "snapshot filename"], [None, None], [1, "d"], ["yes", "e"]]
        reader = load(tmp_path, {"Ctl": control(["First", "MAIN_INPUT", 1, "out"], ["Second", "MAIN_INPUT", "n/a", None]),
                                 "First": first, "Second": second})
        rows = reader.get_main_config_indexed_dict()
        assert list(rows) == ["0", "1", "2", "3", "4"]
        assert [row["snapshot filename"] for row in rows.values()] == ["a", "b", "c", "d", "e"]
        assert rows["0"]["parent_path"] == "out" and "parent_path" not in rows["3"]

    def test_text_cells_are_stripped_and_lowercased_numbers_and_empty_cells_kept(self, tmp_path):
        sheet = [["  Name ", "Mixed", "Numbers", "Gaps"], [" Wind FARM ", 101, 1, 5], ["SOLAR", " Bus A ", 2, None],
                 ["NA", "null", 3, 6]]
        reader = load(tmp_path, {"Ctl": control(["Data", "CASE_INPUT", "n/a", None]), "Data": sheet})
        table = reader.get_data_frame()["data"]
        assert list(table.columns) == ["name", "mixed", "numbers", "gaps"]
        rows = reader.get_case_config_indexed_dict()
        assert [rows[k]["name"] for k in ("0", "1", "2")] == ["wind farm", "solar", "na"]
        assert [rows[k]["mixed"] for k in ("0", "1", "2")] == [101, "bus a", "null"]
        assert [rows[k]["numbers"] for k in ("0", "1", "2")] == [1, 2, 3]
        assert rows["0"]["gaps"] == 5 and math.isnan(rows["1"]["gaps"])
        # the sheets as read keep their own names and cells
        assert list(reader._dfs) == ["Ctl", "Data"]
        assert reader._dfs["Data"]["  Name "].tolist() == [" Wind FARM ", "SOLAR", "NA"]

    def test_text_columns_of_pandas_string_type_are_cleaned(self, tmp_path):
        reader = ReadConfigFile(None, None)
        for dtype in ("string", pd.StringDtype(na_value=np.nan)):
            column = pd.Series([" A b ", None, "C"], dtype=dtype)
            cleaned = reader.clean_column(column)
            assert cleaned.dtype == column.dtype
            assert cleaned[0] == "a b" and cleaned[2] == "c" and pd.isna(cleaned[1])
        numbers = pd.Series([1.5, 2.0])
        assert reader.clean_column(numbers) is numbers

    def test_a_workbook_read_with_the_string_type_for_text_is_cleaned(self, tmp_path):
        write_workbook(os.path.join(tmp_path, "config.xlsx"), {
            "Ctl": control(["MAIN", " Main_Input ", 1, "D:/Out"]), "Main": MAIN_ROWS})
        with pd.option_context("future.infer_string", True):
            reader = ReadConfigFile(str(tmp_path), "config.xlsx")
        assert dict(reader.get_main_config_sheet()) == {"main": "main_input"}
        row = reader.get_main_config_indexed_dict()["0"]
        assert row == {"enabled": "yes", "snapshot filepath": "c:/cases", "snapshot filename": "base.sav",
                       "parent_path": "d:/out"}


class TestFileNames:
    def test_constructor_defaults_and_arguments(self, tmp_path):
        write_workbook(os.path.join(tmp_path, "config.xlsx"), {"Ctl": control(["Main", "MAIN_INPUT", 1, "o"]), "Main": MAIN_ROWS})
        reader = ReadConfigFile(file_path=str(tmp_path))
        assert reader.file_name == "config.xlsx" and reader.file_path == str(tmp_path)
        assert list(reader.get_main_config_indexed_dict()) == ["0"]
        empty = ReadConfigFile()
        assert empty.dfs is None and len(empty.sheet_dict) == 0 and empty.get_main_config_indexed_dict() == {}

    def test_xlsx_anywhere_in_the_name_reads_a_workbook(self, tmp_path):
        reader = load(tmp_path, {"Ctl": control(["Main", "MAIN_INPUT", 1, "o"]), "Main": MAIN_ROWS}, name="study.xlsx.bak")
        assert list(reader.sheet_dict) == ["main"]

    @pytest.mark.parametrize("argument", ["file_path", "file_name"])
    def test_arguments_of_another_type_are_refused_by_name(self, tmp_path, argument):
        with pytest.raises(TypeError, match=argument):
            ReadConfigFile(**{argument: 7})

    def test_csv_and_other_names_are_refused(self, tmp_path):
        (tmp_path / "config.csv").write_text("a,b\n1,2\n")
        with pytest.raises(ValueError, match=r"config\.csv.*must be an \.xlsx workbook with a control sheet"):
            ReadConfigFile(str(tmp_path), "config.csv")
        with pytest.raises(ValueError, match=r"config\.txt.*must be an \.xlsx workbook"):
            ReadConfigFile(str(tmp_path), "config.txt")

    def test_missing_and_unreadable_workbooks_name_their_path(self, tmp_path):
        with pytest.raises(FileNotFoundError, match="absent.xlsx"):
            ReadConfigFile(str(tmp_path), "absent.xlsx")
        (tmp_path / "broken.xlsx").write_text("not a workbook")
        with pytest.raises(ValueError, match="broken.xlsx"):
            ReadConfigFile(str(tmp_path), "broken.xlsx")


class TestBadInput:
    def test_control_sheet_without_results_folder_column(self, tmp_path):
        with pytest.raises(KeyError, match=r"config\.xlsx.*sheet 'ctl'.*folder path to store results for sheet"):
            load(tmp_path, {"Ctl": [CONTROL_LABELS[:3], ["Main", "MAIN_INPUT", "n/a"]], "Main": MAIN_ROWS})

    def test_sheet_name_that_is_not_text(self, tmp_path):
        with pytest.raises(TypeError, match=r"ctl row 3, column 'sheet name'"):
            load(tmp_path, {"Ctl": control(["Main", "MAIN_INPUT", 1, "o"], [2024, "MAIN_INPUT", 1, "o"]), "Main": MAIN_ROWS})

    def test_column_label_that_is_not_text(self, tmp_path):
        with pytest.raises(TypeError, match=r"Main row 1, column 'C'"):
            load(tmp_path, {"Main": [["Enabled", "Snapshot Filename", 2024], ["yes", "a", 1]]})

    def test_sheet_type_that_is_not_text(self, tmp_path):
        reader = load(tmp_path, {"Ctl": control(["Main", "MAIN_INPUT", 1, "o"], ["Other", None, 1, "o"]), "Main": MAIN_ROWS})
        for getter in (reader.get_main_config_sheet, reader.get_case_config_indexed_dict):
            with pytest.raises(TypeError, match=r"ctl row 3, column 'sheet type'"):
                getter()

    def test_labels_repeated_after_cleaning(self, tmp_path):
        reader = load(tmp_path, {"Ctl": control(["Main", "MAIN_INPUT", 1, "o"]),
                                 "Main": [["Enabled", "enabled ", "Snapshot Filename"], ["yes", "no", "a"]],
                                 "Notes": [["Note", "NOTE"], ["x", "y"]]})
        with pytest.raises(ValueError, match=r"sheet 'main', column 'enabled'"):
            reader.get_main_config_indexed_dict()
        with pytest.raises(ValueError, match=r"sheet 'ctl', column 'sheet type'"):
            load(tmp_path, {"Ctl": control(["Main", "MAIN_INPUT", 1, "o"],
                                           labels=CONTROL_LABELS[:2] + ["Sheet Type "] + CONTROL_LABELS[2:])})
