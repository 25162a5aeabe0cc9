"""Preparation of the small case's bus table: the connecting bus and internal buses leave it."""
from collections import OrderedDict
from types import SimpleNamespace

import numpy as np

from gridfold import gridfold_misc as gm


def test_connecting_bus_row_leaves_every_column():
    table = {"NUM": (10, 11, 12), "BASKV": (110.0, 110.0, 33.0), "IERR": 0}
    case = SimpleNamespace(pssbus=table)
    result = gm.exclude_connecting_bus(case, table, 10)
    assert result == {"NUM": (11, 12), "BASKV": (110.0, 33.0), "IERR": 0}
    assert table["NUM"] == (10, 11, 12)  # a new table; the old one is untouched


def test_connecting_bus_removed_from_lists_and_arrays_too_and_nothing_dropped():
    table = OrderedDict(NUM=(10, 11, 12), NAME=["A", "B", "C"], VM=np.array([1.0, 1.01, 0.99]), SHORT=(1,),
                        IERR=3, NOTE="kept")
    case = SimpleNamespace(pssbus={"IERR": 0})
    result = gm.exclude_connecting_bus(case, table, 11)
    assert type(result) is OrderedDict and list(result) == list(table)
    assert result["NAME"] == ["A", "C"] and result["VM"].tolist() == [1.0, 0.99]
    assert result["SHORT"] == (1,) and result["NOTE"] == "kept"
    assert result["IERR"] == 0  # the case's own bus table decides the error entry


def test_absent_or_no_connecting_bus_returns_the_same_table():
    table = {"NUM": (10, 11), "IERR": 0, "EXTRA": [1, 2]}
    case = SimpleNamespace(pssbus=table)
    assert gm.exclude_connecting_bus(case, table, 99) is table
    assert gm.exclude_connecting_bus(case, table, None) is table
    assert table == {"NUM": (10, 11), "IERR": 0, "EXTRA": [1, 2]}


def test_internal_buses_are_filtered_in_place():
    table = {"NUM": (11, 1000001, 12, 999999), "BASKV": (1.0, 2.0, 3.0, 4.0), "OTHER": (7, 8), "IERR": 0}
    result = gm.remove_internal_psse_buses(table, table)
    assert result is table
    assert table == {"NUM": (11, 12, 999999), "BASKV": (1.0, 3.0, 4.0), "OTHER": (7, 8), "IERR": 0}


def test_filtering_writes_plain_values_into_the_receiving_table():
    source = {"NUM": (np.int64(11), np.int64(12)), "VM": np.array([1.0, 0.98]), "IERR": np.int32(0)}
    target = {"KEEP": "me"}
    gm.remove_internal_psse_buses(source, target)
    assert target == {"KEEP": "me", "NUM": (11, 12), "VM": [1.0, 0.98], "IERR": 0}
    assert all(type(n) is int for n in target["NUM"]) and type(target["IERR"]) is int
