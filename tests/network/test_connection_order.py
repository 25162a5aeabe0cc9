"""Connection ordering without an engine: duplicates, breadth-first order, bus order inside records.
find_buses on the embedded engine is in test_real_cases.py."""
import pytest

from gridfold import gridfold_misc as gm


def test_a_branch_found_from_both_ends_appears_once_in_its_first_orientation():
    branches = [(1, 2, "1"), (2, 1, "1 "), (2, 3, "1"), (3, 2, "1")]
    assert gm.organize_connections(1, branches, []) == [(1, 2, "1"), (2, 3, "1")]
    # Parallel circuits are different connections.
    assert gm.organize_connections(1, [(1, 2, "1"), (1, 2, "2")], []) == [(1, 2, "1"), (1, 2, "2")]


def test_breadth_first_from_the_connecting_bus_and_unreachable_left_out():
    branches = [(4, 5, "1"), (1, 2, "1"), (2, 4, "1"), (1, 3, "1"), (8, 9, "1")]
    assert gm.organize_connections(1, branches, []) == [(1, 2, "1"), (1, 3, "1"), (2, 4, "1"), (4, 5, "1")]
    assert gm.organize_connections(None, branches, []) == []


def test_three_winding_transformer_found_from_each_bus_enters_once():
    tx3s = [(21, 22, 23, "T1"), (22, 21, 23, "T1"), (23, 21, 22, "T1 ")]
    branches = [(1, 21, "1"), (23, 30, "1")]
    assert gm.organize_connections(1, branches, tx3s) == [(1, 21, "1"), (21, 22, 23, "T1"), (23, 30, "1")]
    # A transformer pair with the same key as a branch takes the branch's place.
    assert gm.organize_connections(1, [(1, 2, "1")], [(1, 2, 0, "1")]) == [(1, 2, 0, "1")]


def test_buses_inside_records_nearest_first_and_zeros_dropped():
    assert gm.enforce_topological_order([(5, 1, "1"), (5, 7, 0, "2")], 1) == [(1, 5, "1"), (5, 7, "2")]
    # Unreached buses keep their order after reached ones; neighbours at equal distance by number.
    records = [(9, 8, "1"), (1, 30, "1"), (1, 20, "1"), (30, 20, 5, "2"), (7, 6, "9")]
    assert gm.enforce_topological_order(records, 1) == [
        (9, 8, "1"), (1, 30, "1"), (1, 20, "1"), (20, 30, 5, "2"), (7, 6, "9")]


def test_reorder_edge_puts_the_root_first():
    assert gm.reorder_edge((5, 3, 0, "1"), 3) == (3, 5, "1")
    assert gm.reorder_edge((5, 3, 0, "1"), 9) == (5, 3, "1")


def test_records_that_are_not_bus_numbers_and_a_circuit_raise():
    with pytest.raises(ValueError, match=r"branch record \(1, 2\) has 2 entries, not 3"):
        gm.organize_connections(1, [(1, 2)], [])
    with pytest.raises(TypeError, match="does not end in a circuit identifier"):
        gm.enforce_topological_order([(1, 2, 3)], 1)
