"""Sparse results as SciPy sparse arrays and back. SciPy is imported only when these are called."""

from typing import Any


def _scipy_sparse() -> Any:
    try:
        import scipy.sparse  # type: ignore[import-untyped]
    except ImportError as error:
        raise ImportError(
            "quorvel.to_scipy and quorvel.from_scipy need SciPy; "
            "install it with: pip install 'quorvel[scipy]'"
        ) from error
    return scipy.sparse


def _is_sparse_result(value: object) -> bool:
    return isinstance(value, tuple) and len(value) == 4 and isinstance(value[3], tuple)


def to_scipy(result: Any) -> Any:
    """A sparse result of quorvel as a ``scipy.sparse.csr_array``.

    Parameters
    ----------
    result : tuple
        A sparse result ``(indptr, indices, data, shape)`` (from `evaluate`,
        `inner_products`, `measure`, `Projection.cross`, `Fit.design`), or a tuple of such
        results, such as the pair ``(W, dW)`` of `measure_derivative`.

    Returns
    -------
    scipy.sparse.csr_array or tuple of scipy.sparse.csr_array
        One array for one result, a tuple of arrays for a tuple of results, so
        ``W, dW = quorvel.to_scipy(quorvel.measure_derivative(...))``. The arrays may share
        memory with the result's arrays.

    Raises
    ------
    TypeError
        ``result`` is neither a sparse result nor a tuple of them.
    ImportError
        SciPy is not installed (it is the optional extra ``quorvel[scipy]``).

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> hats = quorvel.Space.hats(np.array([0.0, 1.0, 2.0]))
    >>> quorvel.to_scipy(quorvel.evaluate(hats, np.array([0.5]))).toarray().tolist()
    [[0.5, 0.5, 0.0]]
    """
    sparse = _scipy_sparse()
    if _is_sparse_result(result):
        indptr, indices, data, shape = result
        return sparse.csr_array((data, indices, indptr), shape=shape)
    if isinstance(result, tuple) and result and all(map(_is_sparse_result, result)):
        return tuple(sparse.csr_array((d, j, p), shape=s) for p, j, d, s in result)
    raise TypeError(
        "expected a sparse result (indptr, indices, data, shape) or a tuple of them, "
        f"got {type(result).__name__}"
    )


def from_scipy(matrix: Any) -> tuple[Any, Any, Any, tuple[int, int]]:
    """A SciPy sparse matrix or array as a quorvel sparse tuple.

    The reverse of `to_scipy`: the matrix is converted to compressed rows of float64 values,
    duplicate entries are summed and the columns of each row sorted, so the result has the
    layout of quorvel's own sparse results. Stored zeros are kept (``to_scipy`` followed by
    ``from_scipy`` gives back the same arrays). The input is not modified.

    Parameters
    ----------
    matrix : scipy.sparse array or matrix
        Any format (CSR, CSC, COO, ...), real values.

    Returns
    -------
    tuple
        ``(indptr, indices, data, shape)``: int64, int64 and float64 arrays and a tuple of two
        ints.

    Raises
    ------
    TypeError
        Complex values.
    ImportError
        SciPy is not installed (it is the optional extra ``quorvel[scipy]``).

    Examples
    --------
    >>> import numpy as np, scipy.sparse, quorvel
    >>> m = scipy.sparse.coo_array(([1.0, 2.0, 3.0], ([0, 0, 1], [2, 0, 2])), shape=(2, 3))
    >>> indptr, indices, data, shape = quorvel.from_scipy(m)
    >>> indptr.tolist(), indices.tolist(), data.tolist(), shape
    ([0, 2, 3], [0, 2, 2], [2.0, 1.0, 3.0], (2, 3))
    """
    import numpy as np

    sparse = _scipy_sparse()
    dtype = getattr(matrix, "dtype", None)
    if dtype is not None and np.dtype(dtype).kind == "c":
        raise TypeError("quorvel sparse tuples hold real values, got a complex matrix")
    csr = sparse.csr_array(matrix, dtype=np.float64, copy=True)
    csr.sum_duplicates()
    rows, cols = csr.shape
    return (
        np.asarray(csr.indptr, dtype=np.int64),
        np.asarray(csr.indices, dtype=np.int64),
        np.ascontiguousarray(csr.data, dtype=np.float64),
        (int(rows), int(cols)),
    )
