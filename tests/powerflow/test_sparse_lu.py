"""The engine's sparse LU on its own (gridfold._sparse_lu): the analyse / factorise /
refactorise / solve life cycle and its status codes, singular matrices, the new pivot search
when a kept pivot becomes small, and refactorised factors equal to fresh ones. The large
matrices are the real and imaginary parts of real networks' admittance matrices, whose
patterns are those of the Newton-Raphson Jacobians."""
import numpy as np
import pytest
import scipy.sparse as sp
from pandapower.pypower.makeYbus import makeYbus

from gridfold import _sparse_lu
from gridfold import pandapower_cases as pc

OK, NOT_ANALYSED, PATTERN_CHANGED, SINGULAR, PIVOT_TOO_SMALL, NOT_FACTORISED = range(6)
SOLVER_NOT_FACTORISED = 4


def csc(dense):
    """(n, indptr, indices, data) of a dense matrix's nonzeros, column by column."""
    dense = np.asarray(dense, dtype=float)
    indptr, indices, data = [0], [], []
    for j in range(dense.shape[1]):
        rows = np.flatnonzero(dense[:, j])
        indices.extend(rows)
        data.extend(dense[rows, j])
        indptr.append(len(indices))
    return dense.shape[0], np.array(indptr), np.array(indices), np.array(data)


def network_matrix(name):
    """[[G, -B], [B, G]] of a network's admittance matrix (scipy CSC): the pattern of its Jacobian."""
    ppc, _, _ = pc.solve_reference(pc.standard_network(name))
    ybus = makeYbus(ppc["baseMVA"], ppc["bus"], ppc["branch"])[0].tocsc()
    g, b = sp.csc_matrix(ybus.real), sp.csc_matrix(ybus.imag)
    return sp.bmat([[g, -b], [b, g]], format="csc")


def arrays(matrix):
    matrix = matrix.tocsc()
    matrix.sort_indices()
    return matrix.shape[0], matrix.indptr, matrix.indices, matrix.data


def test_life_cycle_status_codes():
    a = csc([[4.0, 1.0, 0.0], [1.0, 4.0, 1.0], [0.0, 1.0, 4.0]])
    other = csc([[4.0, 1.0, 1.0], [1.0, 4.0, 1.0], [0.0, 1.0, 4.0]])
    lu = _sparse_lu.LU()
    assert lu.factorise(*a) == NOT_ANALYSED
    assert lu.refactorise(*a) == NOT_FACTORISED
    assert lu.solve(np.ones(3))[0] == NOT_FACTORISED
    assert lu.analyse(*a) == OK
    assert lu.solve(np.ones(3))[0] == NOT_FACTORISED
    assert lu.factorise(*other) == PATTERN_CHANGED
    assert lu.factorise(*a) == OK and lu.factorised
    assert lu.refactorise(*other) == PATTERN_CHANGED and not lu.factorised
    assert lu.factorise(*a) == OK

    status, x = lu.solve(np.array([1.0, 2.0, 3.0]))
    assert status == OK
    np.testing.assert_allclose(x, np.linalg.solve(np.array([[4.0, 1, 0], [1, 4, 1], [0, 1, 4]]), [1, 2, 3]),
                               rtol=1e-14)

    solver = _sparse_lu.LinearSolver()
    assert solver.factorise(*a) == NOT_ANALYSED
    assert solver.solve(np.ones(3))[0] == SOLVER_NOT_FACTORISED
    assert solver.analyse(*a) == OK
    assert solver.refactorise(*a) == OK  # the first refactorise searches for pivots itself
    assert (solver.factorizations, solver.pivot_searches) == (1, 1)
    assert solver.refactorise(*other) == PATTERN_CHANGED


@pytest.mark.parametrize("dense", [
    [[1.0, 2.0, 0.0], [2.0, 4.0, 0.0], [0.0, 0.0, 1.0]],  # two dependent columns
    [[1.0, 1.0, 0.0], [1.0, 1.0, 1.0], [1.0, 1.0, 0.0]],  # full pattern on the diagonal, rank 2
    [[0.0, 1.0], [0.0, 1.0]],                             # an empty column
], ids=["dependent-columns", "rank-two", "empty-column"])
def test_singular_matrices_are_refused_by_the_lu_and_its_fallback(dense):
    a = csc(dense)
    lu = _sparse_lu.LU()
    assert lu.analyse(*a) == OK
    assert lu.factorise(*a) == SINGULAR and not lu.factorised
    assert lu.solve(np.ones(a[0]))[0] == NOT_FACTORISED
    solver = _sparse_lu.LinearSolver()
    assert solver.analyse(*a) == OK
    assert solver.factorise(*a) == SINGULAR
    assert solver.solve(np.ones(a[0]))[0] == SOLVER_NOT_FACTORISED


def test_a_pivot_becoming_small_triggers_a_new_pivot_search():
    n, indptr, indices, dominant = csc([[4.0, 1.0, 0.5], [1.0, 4.0, 1.0], [0.5, 1.0, 4.0]])
    lu = _sparse_lu.LU()
    assert lu.analyse(n, indptr, indices, dominant) == OK
    assert lu.factorise(n, indptr, indices, dominant) == OK
    diagonal_pivots = lu.pivot_rows(n)
    # Moderate changes keep the pivots.
    assert lu.refactorise(n, indptr, indices, dominant * 1.5) == OK
    assert lu.pivot_rows(n) == diagonal_pivots
    # Diagonal at 1e-12 against off-diagonal entries of 1: the first pivot is too small.
    tiny = np.array([[1e-12, 1.0, 0.5], [1.0, 1e-12, 1.0], [0.5, 1.0, 1e-12]])
    tiny_values = csc(tiny)[3]
    assert lu.refactorise(n, indptr, indices, tiny_values) == PIVOT_TOO_SMALL and not lu.factorised

    solver = _sparse_lu.LinearSolver()
    assert solver.analyse(n, indptr, indices, dominant) == OK
    assert solver.factorise(n, indptr, indices, dominant) == OK
    assert solver.refactorise(n, indptr, indices, dominant * 0.7) == OK
    assert (solver.factorizations, solver.pivot_searches) == (2, 1)
    assert solver.refactorise(n, indptr, indices, tiny_values) == OK
    assert (solver.factorizations, solver.pivot_searches) == (3, 2)
    b = np.array([1.0, -2.0, 3.0])
    status, x = solver.solve(b)
    assert status == OK
    np.testing.assert_allclose(tiny @ x, b, rtol=0, atol=1e-12)
    # The new pivots are kept for the next refactorisation.
    assert solver.refactorise(n, indptr, indices, tiny_values * 2.0) == OK
    assert (solver.factorizations, solver.pivot_searches) == (4, 2)


@pytest.mark.parametrize("name", ["case118", "case1354pegase"])
def test_refactorised_factors_solve_like_a_fresh_factorisation(name):
    base = network_matrix(name)
    rng = np.random.default_rng(7)
    n, indptr, indices, values = arrays(base)
    # Two matrices of the same pattern: every entry scaled by its own factor in [0.8, 1.2].
    first = values * rng.uniform(0.8, 1.2, values.size)
    second = values * rng.uniform(0.8, 1.2, values.size)
    b = rng.standard_normal(n)

    kept = _sparse_lu.LU()
    assert kept.analyse(n, indptr, indices, first) == OK
    assert kept.factorise(n, indptr, indices, first) == OK
    pivots = kept.pivot_rows(n)
    assert kept.refactorise(n, indptr, indices, second) == OK
    assert kept.pivot_rows(n) == pivots

    fresh = _sparse_lu.LU()
    assert fresh.analyse(n, indptr, indices, second) == OK
    assert fresh.factorise(n, indptr, indices, second) == OK
    status_kept, x_kept = kept.solve(b)
    status_fresh, x_fresh = fresh.solve(b)
    assert status_kept == status_fresh == OK
    scale = np.abs(x_fresh).max()
    if fresh.pivot_rows(n) == pivots:
        # Same pivots, same operations: the same numbers up to rounding.
        np.testing.assert_allclose(x_kept, x_fresh, rtol=0, atol=1e-12 * scale)
    matrix = sp.csc_matrix((second, indices, indptr), shape=(n, n))
    # Backward stable: the residual is rounding-sized against |A| |x|.
    residual = np.abs(matrix @ x_kept - b).max()
    assert residual < 1e-10 * (abs(matrix) @ np.abs(x_kept)).max(), residual
    np.testing.assert_allclose(x_kept, x_fresh, rtol=0, atol=1e-8 * scale)


def test_fill_in_stays_near_a_minimum_degree_ordering():
    # The ordering decides the work of every refactorisation: on a real network's pattern the
    # factors hold about as many entries as SuperLU's minimum degree ordering on A + A^T gives.
    n, indptr, indices, values = arrays(network_matrix("case1354pegase"))
    lu = _sparse_lu.LU()
    assert lu.analyse(n, indptr, indices, values) == OK
    assert lu.factorise(n, indptr, indices, values) == OK
    reference = sp.linalg.splu(sp.csc_matrix((values, indices, indptr), shape=(n, n)), permc_spec="MMD_AT_PLUS_A",
                               diag_pivot_thresh=0.001, options={"SymmetricMode": True})
    reference_fill = reference.L.nnz + reference.U.nnz - n
    assert values.size < lu.factor_nonzeros < 1.2 * reference_fill


def jacobian_like_matrix(name):
    """network_matrix with all four entries of a bus pair present wherever Y has an entry, as in a
    Jacobian away from a flat start (a lossless branch's G is zero, its derivatives are not)."""
    ppc, _, _ = pc.solve_reference(pc.standard_network(name))
    ybus = makeYbus(ppc["baseMVA"], ppc["bus"], ppc["branch"])[0].tocsc()
    g, b = sp.csc_matrix(ybus.real), sp.csc_matrix(ybus.imag)
    pattern = sp.csc_matrix((np.ones(ybus.nnz), ybus.indices, ybus.indptr), shape=ybus.shape)
    g = g + 0.01 * pattern
    return sp.bmat([[g, -b - 0.01 * pattern], [b + 0.01 * pattern, g]], format="csc")


def bus_keys(nb, kept=None):
    """Keys of [[G, -B], [B, G]]'s rows and columns: bus i's first half 2 i, its second 2 i + 1;
    `kept` selects the rows and columns present."""
    keys = np.concatenate([2 * np.arange(nb), 2 * np.arange(nb) + 1])
    return keys if kept is None else keys[kept]


@pytest.mark.parametrize("name", ["case118", "case1354pegase"])
def test_blocked_lu_solves_network_matrices_like_the_pivoting_lu(name):
    # The blocked LU pivots only inside each bus's 2x2 diagonal block: on a network's pattern it
    # must reach the answer of partial pivoting, also with the second unknown of every third
    # bus left out (a bus whose magnitude is held), and with about the same fill.
    full = jacobian_like_matrix(name)
    nb = full.shape[0] // 2
    rng = np.random.default_rng(11)
    held = np.arange(0, nb, 3)
    for kept in (np.arange(2 * nb), np.setdiff1d(np.arange(2 * nb), nb + held)):
        matrix = full[kept][:, kept].tocsc()
        n, indptr, indices, values = arrays(matrix)
        keys = bus_keys(nb, kept)
        b = rng.standard_normal(n)

        blocked = _sparse_lu.BlockLU()
        assert blocked.analyse(n, indptr, indices, values, keys, keys) == OK
        assert blocked.factorise(n, indptr, indices, values) == OK
        status, x = blocked.solve(b)
        assert status == OK
        assert sorted(blocked.column_order) == list(range(n))

        pivoting = _sparse_lu.LU()
        assert pivoting.analyse(n, indptr, indices, values) == OK
        assert pivoting.factorise(n, indptr, indices, values) == OK
        x_pivoting = pivoting.solve(b)[1]
        residual = np.abs(matrix @ x - b).max()
        assert residual < 1e-10 * (abs(matrix) @ np.abs(x)).max(), residual
        np.testing.assert_allclose(x, x_pivoting, rtol=0, atol=1e-8 * np.abs(x_pivoting).max())
        if kept.size == 2 * nb:
            # Ordering the buses orders the scalar columns about as well.
            assert blocked.factor_nonzeros < 1.05 * pivoting.factor_nonzeros

        # The same pattern with other values refactorises on the same analysis.
        second = values * rng.uniform(0.8, 1.2, values.size)
        assert blocked.factorise(n, indptr, indices, second) == OK
        x2 = blocked.solve(b)[1]
        np.testing.assert_allclose(sp.csc_matrix((second, indices, indptr), shape=(n, n)) @ x2, b, rtol=0,
                                   atol=1e-9 * np.abs(b).max())

        # Values let go (for a caller that needs the memory meanwhile) are made anew by the next
        # factorisation, exactly as they were; until then there is nothing to solve with.
        blocked.release_values()
        assert blocked.solve(b)[0] == NOT_FACTORISED
        assert blocked.factorise(n, indptr, indices, second) == OK
        np.testing.assert_array_equal(blocked.solve(b)[1], x2)


def test_blocked_lu_refuses_small_blocks_and_keys_that_pair_nothing():
    # Two buses; bus 0's block is singular (its rows are equal), bus 1's is not.
    dense = np.array([[1.0, 2.0, 1.0, 0.0],
                      [1.0, 2.0, 0.0, 1.0],
                      [1.0, 0.0, 4.0, 1.0],
                      [0.0, 1.0, 1.0, 4.0]])
    a = csc(dense)
    keys = np.array([0, 1, 2, 3])
    lu = _sparse_lu.BlockLU()
    assert lu.solve(np.ones(4))[0] == NOT_FACTORISED
    assert lu.factorise(*a) == NOT_ANALYSED
    assert lu.analyse(*a, keys, keys) == OK
    assert lu.factorise(*a) == PIVOT_TOO_SMALL
    assert lu.solve(np.ones(4))[0] == NOT_FACTORISED
    # A row key with no column of its own, and a key given twice, pair nothing.
    assert lu.analyse(*a, np.array([0, 1, 2, 5]), keys) == PATTERN_CHANGED
    assert lu.analyse(*a, np.array([0, 1, 2, 2]), keys) == PATTERN_CHANGED

    # The linear solver turns to partial pivoting on a refused block and solves the system.
    solver = _sparse_lu.LinearSolver()
    solver.set_blocks(keys, keys)
    assert solver.analyse(*a) == OK and solver.blocked
    assert solver.factorise(*a) == OK and not solver.blocked
    assert solver.pivot_searches == 1
    status, x = solver.solve(np.array([1.0, 2.0, 3.0, 4.0]))
    assert status == OK
    np.testing.assert_allclose(dense @ x, [1.0, 2.0, 3.0, 4.0], rtol=0, atol=1e-12)
    # A well-conditioned matrix of another pattern is factored in blocks again, without a search.
    good = csc(dense + np.diag([5.0, 0.0, 0.0, 0.0]) + np.array([[0, 0, 0, 0.0], [0, 0, 0, 0], [0, 0, 0, 0], [1, 0, 0, 0]]))
    assert solver.analyse(*good) == OK and solver.blocked
    assert solver.factorise(*good) == OK and solver.refactorise(*good) == OK and solver.blocked
    assert (solver.factorizations, solver.pivot_searches) == (3, 1)
