"""Bus renumbering on in-memory case data objects: the new-number search, every value kind, the
printed lines and the validation walker. Real case files read with caspy are in test_real_cases.py."""
from collections import OrderedDict
from types import SimpleNamespace

import numpy as np
import pytest

from gridfold import gridfold_misc as gm

ALL_SECTIONS = sorted({section for section, _ in gm.bus_number_fields})


def complete_case(**tables):
    """A case object with every bus-number column present (empty), overridden by `tables`."""
    sections = {s: {"IERR": 0} for s in ALL_SECTIONS}
    for section, field in gm.bus_number_fields:
        sections[section][field] = ()
    for name, table in tables.items():
        sections[name] = {**sections[name], **table}
    return SimpleNamespace(**sections)


def test_collisions_skip_main_numbers_in_table_order(capsys):
    case = complete_case(pssbus={"NUM": (5, 100, 900000, 7)})
    returned, mapping = gm.renumber_buses(case, case.pssbus, {"NUM": (100, 900000, 900002)}, None)
    assert returned is case
    assert list(mapping.items()) == [(100, 900001), (900000, 900003)]
    assert case.pssbus["NUM"] == (5, 900001, 900003, 7)
    assert capsys.readouterr().out == (
        "Conflicting bus numbers found. Renumbering...\nBus numbers have been successfully renumbered.\n")


def test_a_bus_listed_twice_is_searched_again_and_keeps_its_place():
    case = complete_case(pssbus={"NUM": (100, 101, 100)}, psslod={"NUM": (100, 101)})
    _, mapping = gm.renumber_buses(case, case.pssbus, {"NUM": (100, 101)}, None)
    # the second listing searches on from the numbers already given: 900002 replaces 900000
    assert list(mapping.items()) == [(100, 900002), (101, 900001)]
    assert case.psslod["NUM"] == (900002, 900001)


def test_no_collision_leaves_the_case_alone(capsys):
    bus_table = {"NUM": (1, 2)}
    case = complete_case(pssbus=bus_table)
    before = case.pssbus
    returned, mapping = gm.renumber_buses(case, case.pssbus, {"NUM": (3, 4)}, None)
    assert (returned, mapping) == (case, {}) and case.pssbus is before
    assert capsys.readouterr().out == "No conflicting buses found. No renumbering needed.\n"


def test_search_reaches_the_top_of_the_range_then_wraps_into_exhaustion():
    # Only 999999 is free: the first collision takes it; the search for the second wraps to
    # 900000, finds every number taken, and ends with an error instead of looping.
    main = tuple(range(900000, 999999)) + (10, 11)
    case = complete_case(pssbus={"NUM": (10,)})
    _, mapping = gm.renumber_buses(case, case.pssbus, {"NUM": main}, None)
    assert mapping == {10: 999999}
    case = complete_case(pssbus={"NUM": (10, 11)})
    with pytest.raises(gm.BusNumberRangeExhausted, match="for bus 11 "):
        gm.renumber_buses(case, case.pssbus, {"NUM": main}, None)


def test_exhausted_range_raises_naming_the_first_colliding_bus(capsys):
    main = tuple(range(900000, 1000000)) + (41, 42)
    case = complete_case(pssbus={"NUM": (40, 41, 42)})
    with pytest.raises(RuntimeError, match="bus 41 .*first colliding bus is 41"):
        gm.renumber_buses(case, case.pssbus, {"NUM": main}, None)
    assert case.pssbus["NUM"] == (40, 41, 42) and capsys.readouterr().out == ""
    # One free number serves the first collision; the second finds none.
    with pytest.raises(gm.BusNumberRangeExhausted, match="bus 42 .*first colliding bus is 41"):
        gm.renumber_buses(case, case.pssbus, {"NUM": tuple(n for n in main if n != 950000)}, None)


def test_new_numbers_skip_numbers_the_small_case_keeps():
    case = complete_case(pssbus={"NUM": (900000, 100, 900001, 200)})
    _, mapping = gm.renumber_buses(case, case.pssbus, {"NUM": (100, 200)}, None)
    assert mapping == {100: 900002, 200: 900003}
    assert len(set(case.pssbus["NUM"])) == 4


def test_every_kind_comes_back_as_it_went_in():
    mapping = {5: 900000, 6: 900001}
    assert gm.renumber_value(mapping, (5, 0, 7)) == (900000, 0, 7)
    assert gm.renumber_value(mapping, [5, 6, 8]) == [900000, 900001, 8]
    assert gm.renumber_value(mapping, [[5, 0, 0], [7, 6, 5], []]) == [[900000, 0, 0], [7, 900001, 900000], []]
    assert gm.renumber_value(mapping, []) == [] and gm.renumber_value(mapping, ()) == ()
    assert gm.renumber_value(mapping, 6) == 900001 and gm.renumber_value(mapping, "5") == "5"
    mixed = gm.renumber_value(mapping, [5, [5]])  # a list inside a flat list is no bus number
    assert mixed == [900000, [5]]

    array = np.array([[5, 1], [6, 5]], dtype=np.int32)
    result = gm.renumber_value(mapping, array)
    assert result.dtype == np.int32 and result.shape == (2, 2)
    assert result.tolist() == [[900000, 1], [900001, 900000]] and array[0, 0] == 5
    # 900000 does not fit int16: the result widens, whatever the memory order of the column.
    small = gm.renumber_value(mapping, np.asfortranarray(np.array([[5, 1, 2], [3, 4, 6]], dtype=np.int16)))
    assert small.tolist() == [[900000, 1, 2], [3, 4, 900001]]
    empty = gm.renumber_value(mapping, np.zeros((0, 3), dtype=np.int64))
    assert empty.shape == (0, 3)


def test_renumber_field_replaces_the_section_with_a_copy_of_its_kind():
    table = OrderedDict(NUM=(5, 7), ID=("1", "2"))
    case = SimpleNamespace(psslod=table)
    assert gm.renumber_field({5: 900000}, case, "psslod", "NUM") is case
    assert type(case.psslod) is OrderedDict and case.psslod is not table
    assert case.psslod == OrderedDict(NUM=(900000, 7), ID=("1", "2")) and table["NUM"] == (5, 7)
    # Absent section, absent column, or something that is not a table: nothing changes.
    gm.renumber_field({5: 900000}, case, "pssgen", "NUM")
    gm.renumber_field({5: 900000}, case, "psslod", "IREG")
    case.pssfsh = None
    gm.renumber_field({5: 900000}, case, "pssfsh", "NUM")
    assert not hasattr(case, "pssgen") and case.pssfsh is None and "IREG" not in case.psslod


def test_missing_or_empty_sections_are_reported_and_fail_validation(capsys):
    case = complete_case()
    del case.pssald
    case.psssub = {}
    assert gm.validate_bus_renumbering(case, {1: 900000}) is False
    assert capsys.readouterr().out == (
        "Field 'NUM' not found in section 'psssub'.\nField 'NUM' not found in section 'pssald'.\n")
    assert gm.validate_bus_renumbering(complete_case(), {1: 900000}) is True


def test_validation_reports_every_element_still_holding_an_old_number(capsys):
    case = complete_case(psslod={"NUM": [900000, 5]}, pssgen={"NUM": (5,), "IREG": 5},
                         castrn={"BUSNUM": [[1, 2, 0], [3, 5, 0]]}, psswsh={"NUM": np.array([[1, 2], [5, 1]])})
    assert gm.validate_bus_renumbering(case, {5: 900000}) is False
    assert capsys.readouterr().out.splitlines() == [
        "Mismatch at psslod->NUM[1]: expected 900000, got 5",
        "Mismatch at pssgen->NUM(0): expected 900000, got 5",
        "ismatch at pssgen->IREG: expected 900000, got 5",
        "Mismatch at psswsh->NUM(1, 0): expected 900000, got 5",
        "Mismatch at castrn->BUSNUM[1][1]: expected 900000, got 5",
    ]


def test_convert_np_types_gives_plain_values():
    converted = gm.convert_np_types({"a": (np.int64(3), np.int32(4)), "b": np.arange(4).reshape(2, 2),
                                     "c": [np.float64(1.5), "x"], "d": None})
    assert converted == {"a": (3, 4), "b": [[0, 1], [2, 3]], "c": [1.5, "x"], "d": None}
    assert type(converted["a"][0]) is int and type(converted["c"][0]) is float
    assert type(gm.convert_np_types(OrderedDict(x=np.int8(1)))) is OrderedDict


def test_convert_np_types_refuses_cycles_and_runaway_nesting():
    looped = [1, 2]
    looped.append(looped)
    table = {"NUM": [np.int64(1)], "REF": {}}
    table["REF"]["back"] = table
    deep = []
    for _ in range(200_000):
        deep = [deep]
    for value, message in ((looped, "contains itself"), (table, "contains itself"),
                           ((0, looped), "contains itself"), (deep, "nested more than 100 levels")):
        with pytest.raises(ValueError, match=message):
            gm.convert_np_types(value)
    # the same object twice, side by side, is no cycle; a real table's few levels are fine
    shared = [np.int32(5)]
    assert gm.convert_np_types({"A": [shared, shared], "B": [[[[np.float32(0.5)]]]]}) == {"A": [[5], [5]],
                                                                                          "B": [[[[0.5]]]]}


def test_bad_bus_tables_raise_naming_the_table():
    case = complete_case(pssbus={"NUM": (1,)})
    with pytest.raises(KeyError, match="main case's bus table has no column 'NUM'"):
        gm.renumber_buses(case, case.pssbus, {"BASKV": ()}, None)
    with pytest.raises(TypeError, match="small case's bus table column 'NUM' holds 'x'"):
        gm.renumber_buses(case, {"NUM": ("x",)}, {"NUM": ()}, None)
