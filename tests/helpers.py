"""Small helpers shared by the test modules."""

import numpy as np
import pytest
import scipy.sparse

import quorvel


def arr(*values):
    return np.array(values, dtype=float)


def dense(result):
    """A sparse (indptr, indices, data, shape) result as a dense array."""
    indptr, indices, data, shape = result
    return scipy.sparse.csr_matrix((data, indices, indptr), shape=shape).toarray()


def point_values(space, x):
    """Dense matrix of the values of the elements of `space` at the points x."""
    return dense(quorvel.evaluate(space, np.asarray(x, dtype=float)))


def rows_of(result):
    """The stored (column, value) pairs of each row of a sparse result."""
    indptr, indices, data, shape = result
    return [
        list(
            zip(
                indices[indptr[i] : indptr[i + 1]].tolist(),
                data[indptr[i] : indptr[i + 1]].tolist(),
            )
        )
        for i in range(shape[0])
    ]


def uniform_bsplines(lo, hi, n_intervals, degree=3):
    """B-splines on uniform knots extended past [lo, hi] so that they span it completely."""
    h = (hi - lo) / n_intervals
    knots = lo + h * np.arange(-degree, n_intervals + degree + 1, dtype=float)
    return quorvel.Space.bsplines(knots, degree)


def value_error_message(f, *args):
    """The message of the plain ValueError that f(*args) raises."""
    with pytest.raises(ValueError) as info:
        f(*args)
    assert type(info.value) is ValueError
    return info.value.args[0]
