"""Sparse results as SciPy sparse arrays and back."""

import sys

import numpy as np
import pytest
import scipy.sparse

import quorvel
from helpers import arr

HATS = quorvel.Space.hats(np.linspace(0.0, 2.0, 9))
LINES = quorvel.Space.gaussians(arr(0.5, 1.2), arr(0.1, 0.2), 4.0)


def dense_by_rows(result):
    """The dense matrix of a sparse tuple, row by row from the layout itself."""
    indptr, indices, data, (rows, cols) = result
    out = np.zeros((rows, cols))
    for i in range(rows):
        for k in range(indptr[i], indptr[i + 1]):
            out[i, indices[k]] += data[k]
    return out


RESULTS = {
    "evaluate": lambda: quorvel.evaluate(HATS, arr(0.1, 0.25, 2.0, 3.0)),
    "measure": lambda: quorvel.measure(LINES, HATS, "integral"),
    "empty": lambda: quorvel.evaluate(HATS, arr()),
    "cross": lambda: quorvel.Projection(LINES, HATS).cross(),
}


@pytest.mark.parametrize("name", RESULTS)
def test_to_scipy_and_back(name):
    result = RESULTS[name]()
    matrix = quorvel.to_scipy(result)
    assert isinstance(matrix, scipy.sparse.csr_array)
    assert matrix.shape == result[3]
    np.testing.assert_array_equal(matrix.toarray(), dense_by_rows(result))
    back = quorvel.from_scipy(matrix)
    for given, returned in zip(result[:3], back[:3]):
        assert returned.dtype == given.dtype
        np.testing.assert_array_equal(returned, given)
    assert back[3] == result[3] and all(type(n) is int for n in back[3])


def test_the_pair_of_measure_derivative_becomes_two_arrays():
    pair = quorvel.measure_derivative(LINES, HATS, "none", "sigma")
    w, dw = quorvel.to_scipy(pair)
    np.testing.assert_array_equal(w.toarray(), dense_by_rows(pair[0]))
    np.testing.assert_array_equal(dw.toarray(), dense_by_rows(pair[1]))


def test_from_scipy_sums_duplicates_sorts_columns_and_leaves_the_input_alone():
    coo = scipy.sparse.coo_array(
        (arr(1.0, 2.0, 3.0, 4.0, 0.0), ([1, 1, 0, 1, 0], [3, 0, 2, 3, 1])), shape=(3, 4)
    )
    csr = coo.tocsr(copy=True)
    before = [csr.indptr.copy(), csr.indices.copy(), csr.data.copy()]
    for matrix in (coo, csr, coo.tocsc(), scipy.sparse.csr_matrix(coo)):
        indptr, indices, data, shape = quorvel.from_scipy(matrix)
        assert indptr.tolist() == [0, 2, 4, 4]
        assert indices.tolist() == [1, 2, 0, 3]
        assert data.tolist() == [0.0, 3.0, 2.0, 5.0]
        assert shape == (3, 4)
    for kept, now in zip(before, [csr.indptr, csr.indices, csr.data]):
        np.testing.assert_array_equal(kept, now)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: quorvel.to_scipy([0, 1]), "expected a sparse result"),
        (lambda: quorvel.to_scipy((np.zeros(1), np.zeros(0))), "expected a sparse result"),
        (lambda: quorvel.from_scipy(scipy.sparse.eye_array(2) * 1j), "complex"),
    ],
)
def test_wrong_inputs(call, message):
    with pytest.raises(TypeError, match=message):
        call()


def test_missing_scipy_names_the_extra(monkeypatch):
    monkeypatch.setitem(sys.modules, "scipy", None)
    monkeypatch.setitem(sys.modules, "scipy.sparse", None)
    result = quorvel.evaluate(HATS, arr(0.5))
    for call in (lambda: quorvel.to_scipy(result), lambda: quorvel.from_scipy(None)):
        with pytest.raises(ImportError, match=r"pip install 'quorvel\[scipy\]'"):
            call()


# SciPy builds these without checking them; converting them used to corrupt the heap or return
# indices out of range.
BAD_MATRICES = {
    "backward pointers": (
        lambda: scipy.sparse.csc_array(
            (np.ones(3), np.array([0, 1, 2]), np.array([0, 2, 1, 3])), shape=(3, 3)),
        "from_scipy (CSC): indptr must not decrease, got indptr[2] = 1 after indptr[1] = 2"),
    "negative column": (
        lambda: scipy.sparse.csr_array(
            (np.ones(2), np.array([-1, 7]), np.array([0, 1, 2])), shape=(2, 3)),
        "from_scipy (CSR): index -1 at position 0 is out of range for 3 columns"),
    "pointer beyond the entries": (
        lambda: scipy.sparse.csr_array(
            (np.ones(2), np.array([0, 1]), np.array([0, 1, 5])), shape=(2, 3)),
        "from_scipy (CSR): indptr ends at 5, but there are 2 indices and 2 values"),
    "coordinate out of range": (
        lambda: scipy.sparse.coo_array(
            (np.ones(2), (np.array([0, 9]), np.array([0, 1]))), shape=(2, 3)),
        "from_scipy (COO): row index 9 at position 1 is out of range for 2 rows"),
}


@pytest.mark.parametrize("name", BAD_MATRICES)
def test_from_scipy_refuses_inconsistent_matrices(name):
    make, message = BAD_MATRICES[name]
    try:
        matrix = make()
    except ValueError:
        pytest.skip("this SciPy checks the layout itself")
    with pytest.raises(ValueError) as info:
        quorvel.from_scipy(matrix)
    assert str(info.value) == message


def _forged(change):
    t = list(quorvel.evaluate(HATS, arr(0.1, 0.25, 2.0)))
    change(t)
    return tuple(t)


FORGED = {
    "columns shifted": (lambda t: t.__setitem__(1, t[1] + 100000),
                        "to_scipy: index 100000 at position 0 is out of range for 9 columns"),
    "pointers reversed": (lambda t: t.__setitem__(0, t[0][::-1]),
                          "to_scipy: indptr must start at 0, got 4"),
    "values missing": (lambda t: t.__setitem__(2, t[2][:-1]),
                       "to_scipy: indptr ends at 4, but there are 4 indices and 3 values"),
    "rows missing": (lambda t: t.__setitem__(3, (2, 9)),
                     "to_scipy: indptr has 4 entries, expected 3 for the shape"),
    "float pointers": (lambda t: t.__setitem__(0, t[0].astype(float)),
                       "to_scipy: indptr must be a 1-D integer array, got float64 with shape (4,)"),
}


@pytest.mark.parametrize("name", FORGED)
def test_to_scipy_refuses_forged_tuples(name):
    change, message = FORGED[name]
    with pytest.raises(ValueError) as info:
        quorvel.to_scipy(_forged(change))
    assert str(info.value) == message
